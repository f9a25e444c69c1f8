// One document through the policy. The policy keeps state across pieces
// (regions dropped whole, what the output has written), so it is reset
// before each document: a run over many files holds no more than one.
#include "driver/document.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "policy/findings.h"
#include "policy/tscrub02.h"
#include "scanner/scrub.h"

namespace {

void report_read_error(const char* name) {
  if (name == nullptr) {
    std::perror("Unable to read HTML");
  } else {
    // The name escaped as findings have it: it may hold any byte.
    const std::string message = std::string("Unable to read input file ") + name + ": " + std::strerror(errno);
    std::string shown;
    append_escaped_controls(shown, message.c_str());
    std::fprintf(stderr, "%s\n", shown.c_str());
  }
}

// The scan hands on its last block of output and reports a failed write
// itself; a read error ends its input like the end of file, so a scan that
// succeeded is confirmed against the input: a read error must not pass for
// the end of the input.
int confirm_input(int status, const char* name) {
  if (status == 0 && input_error() != 0) {
    errno = input_error();
    report_read_error(name);
    return 1;
  }
  return status;
}

// What was removed at the end of the input rather than at a piece.
void report_end_of_input() {
  if (!reporting_removals()) {
    return;
  }
  report_unclosed_region();
  const unsigned long line = unterminated_piece_dropped();
  if (line != 0) {
    report_finding(Finding{FindingKind::kRemoved, FindingSubject::kUnterminated, line, 0, nullptr, nullptr,
                           unterminated_piece_place().column});
  }
}

}  // namespace

int filter_document(const Config* config, std::FILE* in, std::FILE* out, const char* name) {
  (void)scrub_tag(nullptr, nullptr, 0);  // resets the policy
  install_tag_scrubber(scrub_tag);
  install_text_scrubber(scrub_text);
  install_comment_scrubber(scrub_comment);
  install_safe_scan(cfg_mode(config) == MODE_SAFE);
  const int status = confirm_input(scrub_html(in, out), name);
  if (status == 0) {
    report_end_of_input();  // not of an input cut short by a read error
  }
  return status;
}
