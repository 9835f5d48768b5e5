# SPDX-License-Identifier: MIT
# Builds msvc_client as Microsoft's tools would: clang compiles it for
# i686-pc-windows-msvc and lld-link links it against port_device.lib with
# /SAFESEH, the default of Microsoft's linker and of lld-link on x86, which
# refuses any input object not marked safe (as dlltool's import members are
# not: LNK2026). Then checks that it imports exactly the nine functions by
# their exported names.
# cmake -DCLANG=... -DLLD_LINK=... -DOBJDUMP=... -DSOURCE=... -DINCLUDE=...
#       -DLIB=port_device.lib -DOUT=dir "-DEXPECTED=..." -P link_msvc_client.cmake
cmake_minimum_required(VERSION 3.25)
file(MAKE_DIRECTORY ${OUT})
execute_process(
  COMMAND ${CLANG} --target=i686-pc-windows-msvc -O1 -ffreestanding -fno-stack-protector
          -Wall -Werror -I${INCLUDE} -c ${SOURCE} -o ${OUT}/msvc_client.obj
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "clang could not compile ${SOURCE} for i686-pc-windows-msvc")
endif()
execute_process(
  COMMAND ${LLD_LINK} /nologo /machine:x86 /safeseh /subsystem:console /entry:client_start
          /nodefaultlib /out:${OUT}/msvc_client.exe ${OUT}/msvc_client.obj ${LIB}
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "lld-link /safeseh refused ${LIB}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${OBJDUMP} -DEXE=${OUT}/msvc_client.exe
                        -DDLL=port_device.dll "-DEXPECTED=${EXPECTED}"
                        -P ${CMAKE_CURRENT_LIST_DIR}/check_client_imports.cmake
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "msvc_client does not import the nine functions from port_device.dll")
endif()
