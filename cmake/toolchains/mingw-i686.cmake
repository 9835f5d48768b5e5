# SPDX-License-Identifier: MIT
# Cross build for Windows (i686) with Debian's MinGW-w64, posix thread model
# (std::thread and std::mutex, which GoogleTest needs; linked statically).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(mingw_triplet i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
