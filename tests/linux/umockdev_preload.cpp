// SPDX-License-Identifier: MIT
#include "umockdev_preload.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool preload_in(const char *libraries) {
  return libraries != nullptr && std::strstr(libraries, "libumockdev-preload") != nullptr;
}

}  // namespace

void set_umockdev_preload_environment() {
  const char *preload = std::getenv("LD_PRELOAD");
  if (!preload_in(preload)) {
    std::string libraries = "libumockdev-preload.so.0";
    if (preload != nullptr && preload[0] != '\0') libraries += std::string(":") + preload;
    setenv("LD_PRELOAD", libraries.c_str(), 1);
  }
  const char *asan = std::getenv("ASAN_OPTIONS");
  if (asan == nullptr || std::strstr(asan, "verify_asan_link_order") == nullptr) {
    const std::string options =
        asan != nullptr && asan[0] != '\0' ? std::string(asan) + ":" : std::string();
    setenv("ASAN_OPTIONS", (options + "verify_asan_link_order=0").c_str(), 1);
  }
}

void ensure_umockdev_preload(char **argv) {
  if (preload_in(std::getenv("LD_PRELOAD"))) return;
  set_umockdev_preload_environment();
  execv("/proc/self/exe", argv);
  std::perror("re-executing under libumockdev-preload");
  std::exit(127);
}
