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

constexpr std::size_t kInputBufferSize = 1 << 16;

void report_read_error(const char* name) {
  if (name == nullptr) {
    std::perror("Unable to read HTML");
  } else {
    std::fprintf(stderr, "Unable to read input file %s: %s\n", name, std::strerror(errno));
  }
}

// Buffered output fails only when flushed and most output calls are not
// checked, so a scan that succeeded is confirmed against both streams: a
// read error must not pass for end of input, nor a lost write for success.
int confirm_streams(int status, std::FILE* in, std::FILE* out, const char* name) {
  const int read_errno = errno;
  const bool write_failed = std::fflush(out) != 0 || std::ferror(out) != 0;
  const int write_errno = errno;
  if (status != 0) {
    return status;
  }
  if (std::ferror(in) != 0) {
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
  // Input is read in blocks as large as the output's: fewer reads, and fewer
  // times that warnings are written out before one. Standard input gets its
  // buffer once, before its first read.
  static char input_buffer[kInputBufferSize];
  static bool stdin_buffered = false;
  if (in != stdin || !stdin_buffered) {
    std::setvbuf(in, input_buffer, _IOFBF, sizeof input_buffer);
    stdin_buffered = stdin_buffered || in == stdin;
  }
  const int status = scrub_html(in, out);
  if (status == 0) {
    report_end_of_input();
  }
  return confirm_streams(status, in, out, name);
}
