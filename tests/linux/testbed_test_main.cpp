// SPDX-License-Identifier: MIT
// gtest main for tests that build umockdev test beds in process.
#include <gtest/gtest.h>

#include "umockdev_preload.h"

int main(int argc, char **argv) {
  ensure_umockdev_preload(argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
