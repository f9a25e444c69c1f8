// Where the unit tests find files of the source tree. The build hands them
// the tree's directory: a test's own __FILE__ cannot be trusted for it, as
// distribution builds rewrite it with -ffile-prefix-map into a path that
// names nothing where the tests run.
#pragma once

#include <filesystem>

#ifndef TESSEL_SOURCE_DIR
#error "TESSEL_SOURCE_DIR must name the source tree (tests/CMakeLists.txt defines it)"
#endif

// The file or directory at relative, a path from the top of the source tree.
inline std::filesystem::path source_path(const char* relative) {
  return std::filesystem::path(TESSEL_SOURCE_DIR) / relative;
}
