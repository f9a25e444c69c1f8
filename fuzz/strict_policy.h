// The fixed strict configuration of fuzz_scrub, and a probe that shows
// whether a run started clean: a short document filtered under that
// configuration must give the same output after any input as before all.
#ifndef TESSEL_FUZZ_STRICT_POLICY_H
#define TESSEL_FUZZ_STRICT_POLICY_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/config.h"
#include "fuzz_util.h"
#include "policy/tscrub02.h"
#include "scanner/scrub.h"

namespace fuzz {

// An allowlist for untrusted markup, touching every action the policy has.
inline constexpr const char kStrictPolicy[] = R"(# strict allowlist
DEFAULT: DROP
COMMENT: WARN

<p>: KEEP      <b>: KEEP   <i>: KEEP   <em>: KEEP   <strong>: KEEP
<ul>: KEEP     <ol>: KEEP  <li>: KEEP  <br>: KEEP   <table>: KEEP
<tr>: KEEP     <td> { }    <th> { DEFAULT: DROP }
<div>  { ATTRIBUTE title: KEEP  DEFAULT: DROP }
<a> {
    ATTRIBUTE href:  KEEP
    ATTRIBUTE title: WARN
    DEFAULT: DROP
}
<img> {
    ATTRIBUTE src: KEEP     ATTRIBUTE alt: KEEP
    ATTRIBUTE width: KEEP   ATTRIBUTE height: KEEP
    ATTRIBUTE onerror: WARN
    DEFAULT: DROP
}
<script>: DROP ALL
<style> : DROP
    ALL
<iframe>: DROP ALL   <svg>: DROP ALL   <textarea>: DROP ALL
<span>: DROP
<font>: WARN   <center>: WARN   <marquee>: WARN
)";

inline Config* read_policy(const std::string& text) {
  Config* fresh = cfg_construct();
  if (cfg_valid(fresh) == 0) {
    fail("cfg_construct failed");
  }
  Input input(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  if (cfg_read(input.stream(), fresh) != 0) {
    fail("the strict configuration does not read");
  }
  return fresh;
}

// The strict configuration, classic or in safe mode, read at the first call
// and kept for the process.
inline Config* strict_policy(bool safe) {
  static Config* classic = read_policy(kStrictPolicy);
  static Config* safe_mode = read_policy(std::string("MODE: SAFE\n") + kStrictPolicy);
  return safe ? safe_mode : classic;
}

// The most safe mode may write beyond the document's own bytes: for each
// '<' that is text, a character reference of up to six bytes ("&#122;") in
// place of the byte after it, where dropped markup came between them; and
// at the end of the output either the end tag of a raw-text element left
// open (none is longer than "</noframes>") or "&lt;" for a final '<'; then
// the end tags that close what the output left open. A start tag opens at
// most three elements (a <td> straight in a table makes a section and a
// row too), and a formatting element may be closed once on the stack and
// once in the formatting list after being rebuilt: five end tags, of a
// name of at most 127 bytes, for each '<'.
inline std::size_t output_allowance(const std::uint8_t* document, std::size_t size, bool safe) {
  if (!safe) {
    return 0;
  }
  constexpr std::size_t kClosingGrowth = 5 * (sizeof "</>" - 1 + 127);
  constexpr std::size_t kReferenceGrowth = 5 + kClosingGrowth;
  constexpr std::size_t kEndRepair = sizeof "</noframes>" - 1;
  std::size_t less_thans = 0;
  for (std::size_t i = 0; i < size; ++i) {
    less_thans += document[i] == '<' ? 1 : 0;
  }
  return kEndRepair + kReferenceGrowth * less_thans;
}

// Filters document under the strict configuration with the policy hooks,
// leaving the policy's regions cleared, no Config installed and the classic
// scanner chosen. Stores the output in *text when it is not null; returns
// scrub_html's status, or -1 when the output was longer than the document.
inline int scrub_strict(const std::uint8_t* document, std::size_t size, std::string* text, bool safe = false) {
  install_config(strict_policy(safe));
  install_safe_scan(safe);
  install_tag_scrubber(scrub_tag);
  install_text_scrubber(scrub_text);
  install_comment_scrubber(scrub_comment);
  Input input(document, size);
  Output output;
  int status = scrub_html(input.stream(), output.stream());
  (void)scrub_tag(nullptr, nullptr, 0);
  install_config(nullptr);
  install_safe_scan(false);
  const std::size_t written = output.finish();
  if (text != nullptr) {
    text->assign(output.data(), written);
  }
  if (status == 0 && written > size + output_allowance(document, size, safe)) {
    status = -1;
  }
  return status;
}

inline constexpr const char kProbe[] =
    "a<p title=t>b</p><script>c<d</script>e<svg><svg>f</svg></svg>g<!--h--><!DOCTYPE i>"
    "<img src=j onerror=k alt=l /><a href=m onclick=n>o</a><span>p</span><style>q";

// What the probe document gives the first time this is called; call it
// before the first input, when the modules are untouched.
inline const std::string& probe_reference() {
  static const std::string reference = [] {
    std::string first;
    if (scrub_strict(reinterpret_cast<const std::uint8_t*>(kProbe), sizeof kProbe - 1, &first) != 0) {
      fail("the probe document does not filter");
    }
    return first;
  }();
  return reference;
}

// Fails unless the probe document gives its reference output: a run that
// left state behind (an open region, script mode, a half-read piece)
// changes it.
inline void check_clean_start() {
  std::string now;
  if (scrub_strict(reinterpret_cast<const std::uint8_t*>(kProbe), sizeof kProbe - 1, &now) != 0 ||
      now != probe_reference()) {
    fail("a run did not start clean: the probe document filters differently");
  }
}

}  // namespace fuzz

#endif
