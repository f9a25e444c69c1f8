// Batch mode. The input is read with read(2) in blocks, and the lines in a
// block are answered one after the other; the answers go out in one write
// each time the block is used up, before the next read, which may wait.
// A caller feeding one line at a time over a pipe thus gets each answer as
// soon as it is made, and a file of lines is answered a block at a time.
//
// Each document goes through libtessel, as a program that links it would
// filter it, over the Config the command has read.
#include "driver/batch.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include <unistd.h>

#include "driver/check.h"
#include "driver/json.h"
#include "driver/jsonread.h"
#include "lib/policy_over.h"
#include "policy/findings.h"
#include "tessel.h"

namespace {

constexpr std::size_t kReadBlock = 64 * 1024;

void append_number(std::string& line, unsigned long value) { line.append(std::to_string(value)); }

// A finding of the library as --json writes one, without "file".
void append_finding(std::string& line, const tessel_finding& finding) {
  line.append("{\"line\":");
  append_number(line, finding.line);
  if (finding.column != 0) {
    line.append(",\"column\":");
    append_number(line, finding.column);
  }
  line.append(",\"kind\":\"").append(finding.kind_name).append("\",\"rule\":\"").append(finding.rule).append("\"");
  const char* names[] = {"tag", "attribute"};
  const char* values[] = {finding.tag, finding.attribute};
  for (int i = 0; i < 2; ++i) {
    if (values[i] != nullptr) {
      line.append(",\"").append(names[i]).append("\":");
      append_json_string(line, values[i], std::strlen(values[i]));
    }
  }
  if (std::strcmp(finding.rule, "region-removed") == 0) {
    line.append(",\"end_line\":");
    if (finding.end_line != 0) {
      append_number(line, finding.end_line);
    } else {
      line.append("null");
    }
  } else if (finding.end_column != 0) {
    line.append(",\"end_line\":");
    append_number(line, finding.end_line);
    line.append(",\"end_column\":");
    append_number(line, finding.end_column);
  }
  line.append(",\"message\":");
  append_json_string(line, finding.message, std::strlen(finding.message));
  line.push_back('}');
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
  tessel_policy* policy;
  unsigned flags;
  std::FILE* out;
  BatchRequest request;
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
  char* filtered = nullptr;
  std::size_t length = 0;
  tessel_findings* findings = nullptr;
  const std::string& html = batch.request.html;
  const int status = tessel_filter(batch.policy, html.data(), html.size(), batch.flags, &filtered, &length, &findings);
  if (status != TESSEL_OK) {
    const std::string message = std::string("The document could not be filtered: ") + tessel_status_text(status) + ".";
    append_error(batch.answer, batch.request.id, message.c_str(), batch.line);
    batch.trouble = true;
    return;
  }
  append_id(batch.answer, batch.request.id);
  batch.answer.append(",\"html\":");
  append_json_string(batch.answer, filtered, length);
  batch.answer.append(",\"findings\":[");
  for (std::size_t i = 0; i < findings->count; ++i) {
    if (i != 0) {
      batch.answer.push_back(',');
    }
    append_finding(batch.answer, findings->items[i]);
  }
  batch.answer.append("]}\n");
  tessel_free(filtered);
  tessel_findings_free(findings);
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
  Batch batch{tessel_policy_over(config), reporting_removals() ? TESSEL_REPORT_REMOVALS : 0u, out, {}, {}};
  if (batch.policy == nullptr) {
    std::fputs("Unable to construct configuration\n", stderr);
    return kCheckTrouble;
  }
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
  tessel_policy_free(batch.policy);
  return status != 0 || batch.trouble ? kCheckTrouble : kCheckClean;
}
