// One document through the policy. The policy keeps state across pieces
// (regions dropped whole, what the output has written), so it is reset
// before each document: a run over many files holds no more than one.
#include "driver/document.h"

#include <cerrno>
#include <cstring>

#include "policy/findings.h"
#include "policy/tscrub02.h"
#include "scanner/scrub.h"

namespace {

void report_read_error(const char* name) {
  if (name == nullptr) {
    std::perror("Unable to read HTML");
  } else {
    std::fprintf(stderr, "Unable to read input file %s: %s\n", name, std::strerror(errno));
  }
}

// The scan writes its last block of output before it returns, and a read
// error ends its input like the end of file, so a scan that succeeded is
// confirmed against both streams: a read error must not pass for the end of
// the input, nor a lost write for success.
int confirm_streams(int status, std::FILE* out, const char* name) {
  const int read_errno = input_error();
  const bool write_failed = std::fflush(out) != 0 || std::ferror(out) != 0;
  const int write_errno = errno;
  if (status != 0) {
    return status;
  }
  if (read_errno != 0) {
    errno = read_errno;
    report_read_error(name);
    return 1;
  }
  if (write_failed) {
    errno = write_errno;
    std::perror("Unable to write HTML");
    return 1;
  }
  return 0;
}

// What was removed at the end of the input rather than at a piece.
void report_end_of_input() {
  if (!reporting_removals()) {
    return;
  }
  report_unclosed_region();
  const unsigned long line = unterminated_piece_dropped();
  if (line != 0) {
    report_finding(Finding{FindingKind::kRemoved, FindingSubject::kUnterminated, line, 0, nullptr, nullptr});
  }
}

}  // namespace

int filter_document(const Config* config, std::FILE* in, std::FILE* out, const char* name) {
  (void)scrub_tag(nullptr, nullptr, 0);  // resets the policy
  install_tag_scrubber(scrub_tag);
  install_text_scrubber(scrub_text);
  install_comment_scrubber(scrub_comment);
  install_safe_scan(cfg_mode(config) == MODE_SAFE);
  const int status = scrub_html(in, out);
  if (status == 0) {
    report_end_of_input();
  }
  return confirm_streams(status, out, name);
}
