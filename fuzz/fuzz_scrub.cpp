// Fuzz target: the bytes are a document, filtered by scrub_html through the
// policy hooks under a fixed strict configuration (read once, at the first
// input), in safe mode when the first byte is odd, else in classic mode.
// Filtering into memory never fails and never writes more than it read (but
// for what safe mode may add, see output_allowance), gives the same output
// with the states' tables turned off, and every run leaves the modules as
// it found them.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_util.h"
#include "strict_policy.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::quiet();
  (void)fuzz::probe_reference();  // taken at the first input, before any run
  const bool safe = size > 0 && (data[0] & 1) != 0;
  std::string joined;
  const int status = fuzz::scrub_strict(data, size, &joined, safe);
  if (status > 0) {
    fuzz::fail("scrub_html failed on a readable input and a writable output");
  }
  if (status < 0) {
    fuzz::fail("scrub_html wrote more bytes than it may");
  }
  // The states' tables only spare handler calls: without them the output
  // must be the same.
  std::string unjoined;
  const bool joining = install_join_runs(false);
  const int unjoined_status = fuzz::scrub_strict(data, size, &unjoined, safe);
  install_join_runs(joining);
  if (unjoined_status != status || unjoined != joined) {
    fuzz::fail("the states' tables and the handlers filter differently");
  }
  fuzz::check_clean_start();
  return 0;
}
