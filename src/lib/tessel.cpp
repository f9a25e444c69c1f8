// libtessel: the filter's modules behind a C interface (include/tessel.h).
//
// The modules keep their state at module level and were written for one
// document at a time in a process, so every entry point takes one lock for
// its whole call. They also report trouble on stderr, as a command does;
// rather than teach every module a second way to report, each call that
// runs them points stderr at a memory stream while it holds the lock
// (glibc lets stderr be assigned, as the command itself does for its line
// stream) and hands what was written there to the caller, or drops it.
//
// Documents are read from and written to memory through stdio cookie
// streams: the scanner reads and writes in blocks already, which stdio
// hands straight to the cookie functions, and those copy from the
// caller's bytes and into the returned buffer.
#include "tessel.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "config/config.h"
#include "driver/document.h"
#include "lib/policy_over.h"
#include "policy/findings.h"
#include "policy/tscrub02.h"
#include "scanner/iobuf.h"

struct tessel_policy {
  Config* config;
  bool owns_config;  // false for tessel_policy_over
};

namespace {

std::mutex library_lock;

// ---- what the modules write to stderr ----

struct Capture {
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* stream = nullptr;
  std::FILE* saved = nullptr;
};

// Points stderr at a new memory stream; false when there is no memory.
bool capture_begin(Capture& capture) {
  capture.stream = open_memstream(&capture.text, &capture.size);
  if (capture.stream == nullptr) {
    return false;
  }
  capture.saved = stderr;
  stderr = capture.stream;
  return true;
}

// Gives stderr back; capture.text holds what was written (or is null when
// memory ran out), for the caller to free.
void capture_end(Capture& capture) {
  stderr = capture.saved;
  if (std::fclose(capture.stream) != 0) {
    std::free(capture.text);
    capture.text = nullptr;
    capture.size = 0;
  }
}

// ---- errors ----

// Copies text to *at and moves *at past it and its NUL.
const char* place_string(char** at, const char* text, std::size_t length) {
  char* start = *at;
  std::memcpy(start, text, length);
  start[length] = '\0';
  *at += length + 1;
  return start;
}

// A tessel_error in one allocation, or null when there is no memory for
// it (the status still tells what happened).
tessel_error* make_error(int status, const char* file, const CfgErrorPlace& place, const char* message) {
  const char* where = place.line != 0 && place.message != nullptr ? place.message : "";
  const std::size_t file_length = std::strlen(file);
  const std::size_t where_length = std::strlen(where);
  const std::size_t message_length = std::strlen(message);
  auto* error = static_cast<tessel_error*>(
      std::malloc(sizeof(tessel_error) + file_length + where_length + message_length + 3));
  if (error == nullptr) {
    return nullptr;
  }
  char* at = reinterpret_cast<char*>(error + 1);
  error->status = status;
  error->file = place_string(&at, file, file_length);
  error->line = place.line;
  error->place = place_string(&at, where, where_length);
  error->message = place_string(&at, message, message_length);
  return error;
}

void set_error(tessel_error** error, int status, const char* file, const CfgErrorPlace& place, const char* message) {
  if (error != nullptr) {
    *error = make_error(status, file, place, message != nullptr ? message : tessel_status_text(status));
  }
}

// ---- loading ----

// Reads the policy from stream (named name in its messages) while the
// lock is held and stderr captured. On failure *message_out gets the
// place line added to the messages.
int read_policy(std::FILE* stream, const char* name, tessel_policy** policy) {
  Config* config = cfg_construct();
  if (cfg_valid(config) == 0) {
    return TESSEL_ERR_MEMORY;
  }
  if (cfg_read_named(stream, *name != '\0' ? name : nullptr, config) != 0) {
    const bool unreadable = std::ferror(stream) != 0;
    if (unreadable) {
      std::fprintf(stderr, "Unable to read configuration file %s: %s\n", name, std::strerror(errno));
    }
    cfg_report_place(stderr);
    cfg_release(&config);
    return unreadable ? TESSEL_ERR_OPEN : TESSEL_ERR_POLICY;
  }
  *policy = static_cast<tessel_policy*>(std::malloc(sizeof(tessel_policy)));
  if (*policy == nullptr) {
    cfg_release(&config);
    return TESSEL_ERR_MEMORY;
  }
  (*policy)->config = config;
  (*policy)->owns_config = true;
  return TESSEL_OK;
}

using StreamOpener = std::FILE* (*)(const void* source, std::size_t length);

// Loads a policy from the stream open(source, length) gives, under the
// lock with stderr captured, and makes the error of a failure.
int load_policy(StreamOpener open, const void* source, std::size_t length, const char* name,
                tessel_policy** policy, tessel_error** error) {
  if (error != nullptr) {
    *error = nullptr;
  }
  if (policy == nullptr || source == nullptr) {
    set_error(error, TESSEL_ERR_ARGUMENT, "", CfgErrorPlace{}, nullptr);
    return TESSEL_ERR_ARGUMENT;
  }
  *policy = nullptr;
  const std::lock_guard<std::mutex> hold(library_lock);
  Capture capture;
  if (!capture_begin(capture)) {
    set_error(error, TESSEL_ERR_MEMORY, name, CfgErrorPlace{}, nullptr);
    return TESSEL_ERR_MEMORY;
  }
  int status = TESSEL_OK;
  std::FILE* stream = open(source, length);
  if (stream == nullptr) {
    if (errno == ENOMEM) {
      status = TESSEL_ERR_MEMORY;
    } else {
      status = TESSEL_ERR_OPEN;
      std::fprintf(stderr, "Unable to open configuration file %s: %s\n", name, std::strerror(errno));
    }
  } else {
    status = read_policy(stream, name, policy);
    std::fclose(stream);
  }
  const CfgErrorPlace place = status == TESSEL_ERR_POLICY ? cfg_error_place() : CfgErrorPlace{};
  // The place's texts stay valid until the next read, which the lock holds off.
  const char* file = status == TESSEL_ERR_POLICY && place.file != nullptr ? place.file : name;
  capture_end(capture);
  if (status != TESSEL_OK) {
    set_error(error, status, file, place, capture.text != nullptr && capture.size != 0 ? capture.text : nullptr);
  }
  std::free(capture.text);
  return status;
}

std::FILE* open_path(const void* source, std::size_t) { return std::fopen(static_cast<const char*>(source), "r"); }

// ---- memory streams ----

struct Source {
  const char* next;
  const char* end;
};

ssize_t read_source(void* cookie, char* buffer, std::size_t size) {
  auto* source = static_cast<Source*>(cookie);
  const auto left = static_cast<std::size_t>(source->end - source->next);
  const std::size_t count = size < left ? size : left;
  if (count != 0) {
    std::memcpy(buffer, source->next, count);
    source->next += count;
  }
  return static_cast<ssize_t>(count);
}

// A stdio stream reading source's bytes; null without memory. It keeps
// stdio's buffer: the scanner's block reads are larger and pass it by,
// where an unbuffered stream would call read_source for every byte.
std::FILE* open_source(Source* source) {
  return fopencookie(source, "r", cookie_io_functions_t{read_source, nullptr, nullptr, nullptr});
}

std::FILE* open_text(const void* text, std::size_t length) {
  // The Source must outlive the stream; a policy is read within this call,
  // under the lock, so one kept here serves.
  static Source source;
  source = Source{static_cast<const char*>(text), static_cast<const char*>(text) + length};
  return open_source(&source);
}

// The output of tessel_filter: a malloc'd buffer that grows as written.
struct Buffer {
  char* data = nullptr;
  std::size_t size = 0;
  std::size_t capacity = 0;
  bool out_of_memory = false;
};

// Makes room for count more bytes and the NUL that ends the document.
bool reserve(Buffer& buffer, std::size_t count) {
  if (count > static_cast<std::size_t>(-1) / 2 - buffer.size - 1) {
    return false;
  }
  const std::size_t needed = buffer.size + count + 1;
  if (needed <= buffer.capacity) {
    return true;
  }
  std::size_t capacity = buffer.capacity < 256 ? 256 : buffer.capacity;
  while (capacity < needed) {
    capacity *= 2;
  }
  char* data = static_cast<char*>(std::realloc(buffer.data, capacity));
  if (data == nullptr) {
    return false;
  }
  buffer.data = data;
  buffer.capacity = capacity;
  return true;
}

ssize_t write_buffer(void* cookie, const char* bytes, std::size_t count) {
  auto* buffer = static_cast<Buffer*>(cookie);
  if (!reserve(*buffer, count)) {
    buffer->out_of_memory = true;
    return -1;
  }
  std::memcpy(buffer->data + buffer->size, bytes, count);
  buffer->size += count;
  return static_cast<ssize_t>(count);
}

struct Callback {
  tessel_write_fn write;
  void* context;
  bool failed = false;
};

ssize_t write_callback(void* cookie, const char* bytes, std::size_t count) {
  auto* callback = static_cast<Callback*>(cookie);
  if (callback->failed || callback->write(callback->context, bytes, count) != 0) {
    callback->failed = true;
    return -1;
  }
  return static_cast<ssize_t>(count);
}

std::FILE* open_writer(void* cookie, cookie_write_function_t* write) {
  std::FILE* stream = fopencookie(cookie, "w", cookie_io_functions_t{nullptr, write, nullptr, nullptr});
  if (stream != nullptr) {
    std::setvbuf(stream, nullptr, _IONBF, 0);
  }
  return stream;
}

// ---- findings ----

struct Collected {
  tessel_finding finding;  // its strings are filled in when packed
  std::string tag;
  std::string attribute;
  std::string message;
  bool has_tag;
  bool has_attribute;
};

// The findings of the call in progress, or null when it does not keep
// them. Set and read under the lock only.
std::vector<Collected>* collecting = nullptr;
bool collect_failed = false;

int kind_code(FindingKind kind) {
  switch (kind) {
    case FindingKind::kWarning: return TESSEL_FINDING_WARNING;
    case FindingKind::kRemoved: return TESSEL_FINDING_REMOVED;
    case FindingKind::kUnsafeUrl: return TESSEL_FINDING_UNSAFE_URL;
  }
  return TESSEL_FINDING_WARNING;
}

// The sink: copies the finding, whose names are valid only now. Memory
// running out is noted, not thrown through the scanner.
void collect(const Finding& finding) {
  if (collecting == nullptr || collect_failed) {
    return;
  }
  try {
    char message[kFindingMessageSize];
    const std::size_t length = finding_message_raw(finding, message, sizeof message);
    tessel_finding copy{kind_code(finding.kind), finding_kind_name(finding.kind), finding_rule(finding),
                        finding.line, finding.column, finding.end_line, finding.end_column,
                        nullptr, nullptr, nullptr};
    collecting->push_back(Collected{copy, finding.tag != nullptr ? finding.tag : "",
                                    finding.attribute != nullptr ? finding.attribute : "",
                                    std::string(message, length), finding.tag != nullptr,
                                    finding.attribute != nullptr});
  } catch (...) {
    collect_failed = true;
  }
}

// The findings in one allocation: the header, the array, the strings.
tessel_findings* pack_findings(const std::vector<Collected>& found) {
  std::size_t size = sizeof(tessel_findings) + found.size() * sizeof(tessel_finding);
  for (const Collected& c : found) {
    size += c.tag.size() + c.attribute.size() + c.message.size() + 3;
  }
  auto* findings = static_cast<tessel_findings*>(std::malloc(size));
  if (findings == nullptr) {
    return nullptr;
  }
  auto* items = reinterpret_cast<tessel_finding*>(findings + 1);
  char* at = reinterpret_cast<char*>(items + found.size());
  for (std::size_t i = 0; i < found.size(); ++i) {
    const Collected& c = found[i];
    items[i] = c.finding;
    const char* tag = place_string(&at, c.tag.data(), c.tag.size());
    const char* attribute = place_string(&at, c.attribute.data(), c.attribute.size());
    items[i].tag = c.has_tag ? tag : nullptr;
    items[i].attribute = c.has_attribute ? attribute : nullptr;
    items[i].message = place_string(&at, c.message.data(), c.message.size());
  }
  findings->count = found.size();
  findings->items = found.empty() ? nullptr : items;
  return findings;
}

// ---- filtering ----

// Filters html through policy into out, under the lock with stderr
// captured; the filter's status (0 or nonzero) and the findings kept in
// *found when found is not null.
int run_filter(const tessel_policy* policy, const char* html, std::size_t length, unsigned flags, std::FILE* out,
               std::vector<Collected>* found) {
  Source source{html, html + length};
  std::FILE* in = open_source(&source);
  if (in == nullptr) {
    return 1;
  }
  collecting = found;
  collect_failed = false;
  const FindingSink previous_sink = install_finding_sink(collect);
  const bool previous_report = install_removal_report((flags & TESSEL_REPORT_REMOVALS) != 0);
  install_config(policy->config);
  int status = 1;
  // The modules allocate with malloc and report failure by status, but a
  // few standard containers among them may throw: no exception may leave
  // a C function, and the streams must still be closed. The next document
  // starts the scanner and the policy afresh.
  try {
    status = filter_document(policy->config, in, out, nullptr);
  } catch (...) {
    collect_failed = true;
  }
  install_removal_report(previous_report);
  install_finding_sink(previous_sink);
  collecting = nullptr;
  std::fclose(in);
  return status;
}

bool valid_filter_arguments(const tessel_policy* policy, const char* html, std::size_t length, unsigned flags) {
  return policy != nullptr && (html != nullptr || length == 0) && (flags & ~TESSEL_REPORT_REMOVALS) == 0;
}

// What both filter calls share once their output stream is made: the
// lock, the capture of stderr, the run and the findings. failure(cookie)
// gives the status of a failure that the cookie's write function met, or
// 0: the cookie is asked rather than the stream, since glibc's unbuffered
// streams let fwrite and fflush report success after a failed write.
using OutputFailure = int (*)(const void* cookie);

int filter_into(const tessel_policy* policy, const char* html, std::size_t length, unsigned flags, void* cookie,
                cookie_write_function_t* write, OutputFailure failure, tessel_findings** findings) {
  const std::lock_guard<std::mutex> hold(library_lock);
  Capture capture;
  if (!capture_begin(capture)) {
    return TESSEL_ERR_MEMORY;
  }
  int status = TESSEL_OK;
  std::vector<Collected> found;
  std::FILE* out = open_writer(cookie, write);
  if (out == nullptr) {
    status = TESSEL_ERR_MEMORY;
  } else {
    errno = 0;
    const int filtered = run_filter(policy, html, length, flags, out, findings != nullptr ? &found : nullptr);
    // The modules report a failed allocation as a failure like any other;
    // malloc's errno tells it apart.
    const bool out_of_memory =
        filtered != 0 && (errno == ENOMEM || input_error() == ENOMEM || output_error() == ENOMEM);
    const bool closed = std::fclose(out) == 0;
    if (collect_failed || out_of_memory) {
      status = TESSEL_ERR_MEMORY;
    } else if (const int write_status = failure(cookie); write_status != TESSEL_OK) {
      status = write_status;
    } else if (filtered != 0 || !closed) {
      status = TESSEL_ERR_FILTER;
    }
  }
  capture_end(capture);
  std::free(capture.text);
  if (status == TESSEL_OK && findings != nullptr) {
    *findings = pack_findings(found);
    status = *findings != nullptr ? TESSEL_OK : TESSEL_ERR_MEMORY;
  }
  return status;
}

int buffer_failure(const void* cookie) {
  return static_cast<const Buffer*>(cookie)->out_of_memory ? TESSEL_ERR_MEMORY : TESSEL_OK;
}

int callback_failure(const void* cookie) {
  return static_cast<const Callback*>(cookie)->failed ? TESSEL_ERR_WRITE : TESSEL_OK;
}

}  // namespace

extern "C" {

const char* tessel_status_text(int status) {
  switch (status) {
    case TESSEL_OK: return "success";
    case TESSEL_ERR_ARGUMENT: return "invalid argument";
    case TESSEL_ERR_MEMORY: return "out of memory";
    case TESSEL_ERR_OPEN: return "policy file could not be read";
    case TESSEL_ERR_POLICY: return "policy rejected";
    case TESSEL_ERR_WRITE: return "write function failed";
    case TESSEL_ERR_FILTER: return "document could not be filtered";
    default: return "unknown status";
  }
}

void tessel_error_free(tessel_error* error) { std::free(error); }

int tessel_policy_from_file(const char* path, tessel_policy** policy, tessel_error** error) {
  return load_policy(open_path, path, 0, path != nullptr ? path : "", policy, error);
}

int tessel_policy_from_string(const char* text, std::size_t length, tessel_policy** policy, tessel_error** error) {
  return load_policy(open_text, text, length, "", policy, error);
}

void tessel_policy_free(tessel_policy* policy) {
  if (policy == nullptr) {
    return;
  }
  const std::lock_guard<std::mutex> hold(library_lock);
  if (policy->owns_config) {
    cfg_release(&policy->config);
  }
  std::free(policy);
}

void tessel_findings_free(tessel_findings* findings) { std::free(findings); }

void tessel_free(void* buffer) { std::free(buffer); }

int tessel_filter(const tessel_policy* policy, const char* html, std::size_t length, unsigned flags, char** output,
                  std::size_t* output_length, tessel_findings** findings) {
  if (findings != nullptr) {
    *findings = nullptr;
  }
  if (output == nullptr || output_length == nullptr) {
    return TESSEL_ERR_ARGUMENT;
  }
  *output = nullptr;
  *output_length = 0;
  if (!valid_filter_arguments(policy, html, length, flags)) {
    return TESSEL_ERR_ARGUMENT;
  }
  Buffer buffer;
  int status = filter_into(policy, html, length, flags, &buffer, write_buffer, buffer_failure, findings);
  if (status == TESSEL_OK && !reserve(buffer, 0)) {
    status = TESSEL_ERR_MEMORY;
  }
  if (status != TESSEL_OK) {
    std::free(buffer.data);
    if (findings != nullptr) {
      tessel_findings_free(*findings);
      *findings = nullptr;
    }
    return status;
  }
  buffer.data[buffer.size] = '\0';
  *output = buffer.data;
  *output_length = buffer.size;
  return TESSEL_OK;
}

int tessel_filter_to(const tessel_policy* policy, const char* html, std::size_t length, unsigned flags,
                     tessel_write_fn write, void* context, tessel_findings** findings) {
  if (findings != nullptr) {
    *findings = nullptr;
  }
  if (write == nullptr || !valid_filter_arguments(policy, html, length, flags)) {
    return TESSEL_ERR_ARGUMENT;
  }
  Callback callback{write, context};
  return filter_into(policy, html, length, flags, &callback, write_callback, callback_failure, findings);
}

}  // extern "C"

tessel_policy* tessel_policy_over(const Config* config) {
  auto* policy = static_cast<tessel_policy*>(std::malloc(sizeof(tessel_policy)));
  if (policy != nullptr) {
    // Never changed through the policy: only a policy that owns its
    // Config releases it.
    policy->config = const_cast<Config*>(config);
    policy->owns_config = false;
  }
  return policy;
}
