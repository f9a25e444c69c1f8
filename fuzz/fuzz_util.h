// Helpers shared by the fuzz targets: quieting the library's messages,
// reading bytes as a stream and capturing what a run writes.
#ifndef TESSEL_FUZZ_UTIL_H
#define TESSEL_FUZZ_UTIL_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace fuzz {

// The standard error the process started with: the harness's own reports go
// there even after quiet() has silenced the library.
inline std::FILE*& real_stderr() {
  static std::FILE* stream = stderr;
  return stream;
}

// Sends the library's messages (warnings, parse errors) to /dev/null, once,
// unless FUZZ_VERBOSE is set. Only the stdio stream the library writes to is
// replaced (glibc lets stderr be assigned); descriptor 2 stays open, so the
// reports of libFuzzer and the sanitizers, which use it directly or through
// a stream taken at start-up, are still seen.
inline void quiet() {
  static const bool done = [] {
    real_stderr();
    if (std::getenv("FUZZ_VERBOSE") != nullptr) {
      return true;
    }
#if defined(__GLIBC__)
    std::FILE* sink = std::fopen("/dev/null", "w");
    if (sink != nullptr) {
      stderr = sink;
    }
#else
    real_stderr() = nullptr;
    (void)std::freopen("/dev/null", "w", stderr);
#endif
    return true;
  }();
  (void)done;
}

// Stops the run with a report: a property every input must keep was broken.
[[noreturn]] inline void fail(const char* what) {
  std::FILE* report = real_stderr();
  if (report != nullptr) {
    std::fprintf(report, "fuzz: %s\n", what);
    std::fflush(report);
  }
  std::abort();
}

// A read stream over a private copy of some bytes (the library may hold the
// stream as long as it likes; the caller's buffer is const). Empty input is
// /dev/null: fmemopen refuses a size of 0.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : copy_(data, data + size) {
    stream_ = size > 0 ? fmemopen(copy_.data(), size, "r") : std::fopen("/dev/null", "r");
    if (stream_ == nullptr) {
      fail("cannot open the input as a stream");
    }
  }
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;
  ~Input() { std::fclose(stream_); }

  std::FILE* stream() const { return stream_; }

 private:
  std::vector<std::uint8_t> copy_;
  std::FILE* stream_ = nullptr;
};

// A write stream in memory, for the output of one run.
class Output {
 public:
  Output() {
    stream_ = open_memstream(&buffer_, &size_);
    if (stream_ == nullptr) {
      fail("cannot open an output stream in memory");
    }
  }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  ~Output() {
    if (stream_ != nullptr) {
      std::fclose(stream_);
    }
    std::free(buffer_);
  }

  std::FILE* stream() const { return stream_; }
  // What was written, once finish() has been called.
  const char* data() const { return buffer_ != nullptr ? buffer_ : ""; }

  // Closes the stream and gives the number of bytes written.
  std::size_t finish() {
    if (stream_ != nullptr) {
      if (std::fclose(stream_) != 0) {
        fail("closing the output in memory failed");
      }
      stream_ = nullptr;
    }
    return size_;
  }

 private:
  char* buffer_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* stream_ = nullptr;
};

}  // namespace fuzz

#endif
