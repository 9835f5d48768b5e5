// SPDX-License-Identifier: MIT
// Replays fuzz inputs without libFuzzer: every file named on the command line,
// or found in a directory named there, goes once through the target's
// LLVMFuzzerTestOneInput. A failed check aborts, so a crash input kept under
// regressions/ fails the test that replays it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size);

namespace {

int replay_file(const std::filesystem::path &path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
    return 1;
  }
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                   std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  int failures = 0;
  int replayed = 0;
  for (int k = 1; k < argc; ++k) {
    const std::filesystem::path path(argv[k]);
    if (!std::filesystem::is_directory(path)) {
      failures += replay_file(path);
      ++replayed;
      continue;
    }
    for (const auto &entry : std::filesystem::recursive_directory_iterator(path)) {
      if (!entry.is_regular_file() || entry.path().filename().string().front() == '.') continue;
      failures += replay_file(entry.path());
      ++replayed;
    }
  }
  std::printf("replayed %d inputs\n", replayed);
  return failures == 0 && replayed > 0 ? 0 : 1;
}
