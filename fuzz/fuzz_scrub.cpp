// Fuzz target: the bytes are a document, filtered by scrub_html through the
// policy hooks under a fixed strict configuration (read once, at the first
// input), in safe mode when the first byte is odd, else in classic mode.
// Filtering into memory never fails and never writes more than it read (but
// for what safe mode may add, see output_allowance), and every run leaves
// the modules as it found them.
#include <cstddef>
#include <cstdint>

#include "fuzz_util.h"
#include "strict_policy.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::quiet();
  (void)fuzz::probe_reference();  // taken at the first input, before any run
  const bool safe = size > 0 && (data[0] & 1) != 0;
  const int status = fuzz::scrub_strict(data, size, nullptr, safe);
  if (status > 0) {
    fuzz::fail("scrub_html failed on a readable input and a writable output");
  }
  if (status < 0) {
    fuzz::fail("scrub_html wrote more bytes than it may");
  }
  fuzz::check_clean_start();
  return 0;
}
