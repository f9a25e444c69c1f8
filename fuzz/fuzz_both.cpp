// Fuzz target: the whole run as the program does it. The first two bytes
// (little-endian) give the length of the configuration, cut to the bytes
// there are; the configuration follows, then the document. The document is
// filtered only when the configuration was read, and every run ends with the
// program's shut-down, after which a probe document must filter as it did
// before the first input.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "config/config.h"
#include "fuzz_util.h"
#include "policy/tscrub02.h"
#include "scanner/scrub.h"
#include "strict_policy.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::quiet();
  (void)fuzz::probe_reference();  // taken at the first input, before any run
  std::size_t wanted = 0;
  std::size_t offset = 0;
  if (size >= 2) {
    wanted = static_cast<std::size_t>(data[0]) | static_cast<std::size_t>(data[1]) << 8;
    offset = 2;
  }
  const std::size_t cfg_size = std::min(wanted, size - offset);
  const std::uint8_t* cfg_bytes = data + offset;
  const std::uint8_t* doc_bytes = cfg_bytes + cfg_size;
  const std::size_t doc_size = size - offset - cfg_size;

  Config* config = cfg_construct();
  if (cfg_valid(config) == 0) {
    fuzz::fail("cfg_construct failed");
  }
  int status = 0;
  {
    fuzz::Input cfg_input(cfg_bytes, cfg_size);
    status = cfg_read(cfg_input.stream(), config);
  }
  if (status == 0) {
    install_config(config);  // as read, as the command does
    install_tag_scrubber(scrub_tag);
    install_text_scrubber(scrub_text);
    install_comment_scrubber(scrub_comment);
    const bool safe = cfg_mode(config) == MODE_SAFE;
    install_safe_scan(safe);
    fuzz::Input doc_input(doc_bytes, doc_size);
    fuzz::Output output;
    status = scrub_html(doc_input.stream(), output.stream());
    if (status != 0) {
      fuzz::fail("scrub_html failed on a readable input and a writable output");
    }
    if (output.finish() > doc_size + fuzz::output_allowance(doc_bytes, doc_size, safe)) {
      fuzz::fail("scrub_html wrote more bytes than it may");
    }
    install_safe_scan(false);
  }
  (void)scrub_tag(nullptr, nullptr, 0);
  cfg_release(&config);
  install_config(nullptr);
  fuzz::check_clean_start();
  return 0;
}
