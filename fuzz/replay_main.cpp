// A main for builds without libFuzzer: passes the bytes of every file named
// on the command line, or found in a directory named there (recursively, in
// name order), to LLVMFuzzerTestOneInput once, then says how many ran.
// A path that cannot be read, or no input at all, gives status 1.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

bool run_file(const fs::path& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    std::fprintf(stdout, "replay: cannot open %s\n", path.c_str());
    return false;
  }
  std::vector<std::uint8_t> bytes;
  std::uint8_t chunk[4096];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    std::fprintf(stdout, "replay: cannot read %s\n", path.c_str());
    return false;
  }
  // A block of the exact size, as libFuzzer gives: a read past the end is
  // then found by the sanitizers.
  const std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[bytes.size()]);
  std::copy(bytes.begin(), bytes.end(), exact.get());
  (void)LLVMFuzzerTestOneInput(exact.get(), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  std::size_t ran = 0;
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    const fs::path root(argv[i]);
    std::error_code error;
    if (fs::is_directory(root, error)) {
      std::vector<fs::path> files;
      for (const auto& entry : fs::recursive_directory_iterator(root, error)) {
        if (entry.is_regular_file()) {
          files.push_back(entry.path());
        }
      }
      if (error) {
        std::fprintf(stdout, "replay: cannot list %s: %s\n", argv[i], error.message().c_str());
        ok = false;
      }
      std::sort(files.begin(), files.end());
      for (const fs::path& file : files) {
        if (run_file(file)) {
          ++ran;
        } else {
          ok = false;
        }
      }
    } else if (fs::is_regular_file(root, error)) {
      if (run_file(root)) {
        ++ran;
      } else {
        ok = false;
      }
    } else {
      std::fprintf(stdout, "replay: no such file or directory: %s\n", argv[i]);
      ok = false;
    }
  }
  std::fprintf(stdout, "replay: %zu inputs ran\n", ran);
  if (ran == 0) {
    std::fprintf(stdout, "replay: no inputs\n");
    ok = false;
  }
  return ok ? 0 : 1;
}
