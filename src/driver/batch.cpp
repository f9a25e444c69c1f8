// Batch mode. The input is read with read(2) in blocks, and the lines in a
// block are answered one after the other; the answers go out in one write
// each time the block is used up, before the next read, which may wait.
// A caller feeding one line at a time over a pipe thus gets each answer as
// soon as it is made, and a file of lines is answered a block at a time.
//
// Each document is read from and written to memory through stdio cookie
// streams over reused strings, so a document costs no allocation once the
// strings have grown to it.
#include "driver/batch.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include <unistd.h>

#include "driver/check.h"
#include "driver/document.h"
#include "driver/json.h"
#include "driver/jsonread.h"
#include "policy/findings.h"

namespace {

constexpr std::size_t kReadBlock = 64 * 1024;

// The findings of the document being filtered, as JSON objects joined by
// commas, built by the sink.
std::string findings_json;

void collect_finding(const Finding& finding) {
  if (!findings_json.empty()) {
    findings_json.push_back(',');
  }
  append_json_finding(findings_json, finding);
}

// A stream reading the bytes [p, end).
struct MemoryInput {
  const char* p;
  const char* end;
};

ssize_t read_memory(void* cookie, char* buffer, std::size_t size) {
  auto* input = static_cast<MemoryInput*>(cookie);
  const std::size_t count = std::min(size, static_cast<std::size_t>(input->end - input->p));
  std::memcpy(buffer, input->p, count);
  input->p += count;
  return static_cast<ssize_t>(count);
}

ssize_t append_to_string(void* cookie, const char* bytes, std::size_t size) {
  static_cast<std::string*>(cookie)->append(bytes, size);
  return static_cast<ssize_t>(size);
}

// Filters html into *filtered; the filter's status, or 1 when the streams
// could not be made.
int filter_string(const Config* config, const std::string& html, std::string* filtered) {
  MemoryInput input{html.data(), html.data() + html.size()};
  std::FILE* in = fopencookie(&input, "r", cookie_io_functions_t{read_memory, nullptr, nullptr, nullptr});
  std::FILE* out = fopencookie(filtered, "w", cookie_io_functions_t{nullptr, append_to_string, nullptr, nullptr});
  int status = 1;
  if (in != nullptr && out != nullptr) {
    status = filter_document(config, in, out, nullptr);
  }
  if (in != nullptr) {
    std::fclose(in);
  }
  if (out != nullptr && std::fclose(out) != 0) {
    status = 1;
  }
  return status;
}

void append_id(std::string& answer, std::string_view id) {
  answer.append("{\"id\":");
  if (id.empty()) {
    answer.append("null");
  } else {
    append_json_text(answer, id.data(), id.size());
  }
}

void append_error(std::string& answer, std::string_view id, const char* message, unsigned long line) {
  append_id(answer, id);
  answer.append(",\"error\":");
  append_json_string(answer, message, std::strlen(message));
  answer.append(",\"line\":").append(std::to_string(line)).append("}\n");
}

struct Batch {
  const Config* config;
  std::FILE* out;
  BatchRequest request;
  std::string filtered;
  std::string answer;  // the answers not yet handed on
  unsigned long line = 0;
  bool trouble = false;
};

// Answers one line of the input.
void answer_line(Batch& batch, const char* begin, const char* end) {
  ++batch.line;
  const char* error = read_batch_request(begin, end, &batch.request);
  if (error != nullptr) {
    append_error(batch.answer, batch.request.id, error, batch.line);
    batch.trouble = true;
    return;
  }
  batch.filtered.clear();
  findings_json.clear();
  if (filter_string(batch.config, batch.request.html, &batch.filtered) != 0) {
    append_error(batch.answer, batch.request.id, "The document could not be filtered.", batch.line);
    batch.trouble = true;
    return;
  }
  append_id(batch.answer, batch.request.id);
  batch.answer.append(",\"html\":");
  append_json_string(batch.answer, batch.filtered.data(), batch.filtered.size());
  batch.answer.append(",\"findings\":[").append(findings_json).append("]}\n");
}

// Hands the answers held on: 0, or 1 after a message when they could not
// be written.
int hand_on(Batch& batch) {
  const bool written = std::fwrite(batch.answer.data(), 1, batch.answer.size(), batch.out) == batch.answer.size();
  batch.answer.clear();
  if (!written || std::fflush(batch.out) != 0) {
    std::perror("Unable to write output");
    return 1;
  }
  return 0;
}

// Answers every whole line of pending from *start on and moves *start
// past them.
void answer_lines(Batch& batch, const std::string& pending, std::size_t* start) {
  while (true) {
    const void* found = std::memchr(pending.data() + *start, '\n', pending.size() - *start);
    if (found == nullptr) {
      return;
    }
    const char* line_end = static_cast<const char*>(found);
    answer_line(batch, pending.data() + *start, line_end);
    *start = static_cast<std::size_t>(line_end - pending.data()) + 1;
  }
}

// Reads the next block onto pending: its size, 0 at the end, -1 on error.
ssize_t read_block(int fd, std::string& pending) {
  const std::size_t old_size = pending.size();
  pending.resize(old_size + kReadBlock);
  ssize_t count = 0;
  do {
    count = read(fd, pending.data() + old_size, kReadBlock);
  } while (count < 0 && errno == EINTR);
  pending.resize(old_size + static_cast<std::size_t>(count > 0 ? count : 0));
  return count;
}

}  // namespace

int batch_filter(const Config* config, int in_fd, std::FILE* out) {
  const FindingSink previous = install_finding_sink(collect_finding);
  Batch batch{config, out, {}, {}, {}};
  std::string pending;
  int status = 0;
  while (status == 0) {
    std::size_t start = 0;
    answer_lines(batch, pending, &start);
    pending.erase(0, start);
    status = hand_on(batch);
    if (status != 0) {
      break;
    }
    const ssize_t count = read_block(in_fd, pending);
    if (count < 0) {
      std::perror("Unable to read input");
      batch.trouble = true;
      break;
    }
    if (count == 0) {
      if (!pending.empty()) {
        answer_line(batch, pending.data(), pending.data() + pending.size());
      }
      status = hand_on(batch);
      break;
    }
  }
  install_finding_sink(previous);
  return status != 0 || batch.trouble ? kCheckTrouble : kCheckClean;
}
