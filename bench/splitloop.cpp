// Reference split loop for the end-to-end benchmarks: the least a filter
// that hands each piece of markup to a function must do. It splits standard
// input into text runs and tags at '<' and '>' (with memchr, no state
// machine, no names, no policy), gathers each piece in a buffer, hands it
// through a function pointer to a hook that copies it into a large output
// buffer, and so copies the input unchanged. Its time over the copy loop's
// is the floor of the cost per piece: on input made of short pieces no such
// filter can come closer to the copy loop than this.
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// The output, written to standard output in blocks.
class Output {
 public:
  void put(const char* bytes, std::size_t count) {
    if (used_ + count > buffer_.size()) {
      flush();
      if (count > buffer_.size()) {
        failed_ = failed_ || fwrite_unlocked(bytes, 1, count, stdout) != count;
        return;
      }
    }
    std::memcpy(buffer_.data() + used_, bytes, count);
    used_ += count;
  }
  void put(char c) { put(&c, 1); }
  void flush() {
    failed_ = failed_ || fwrite_unlocked(buffer_.data(), 1, used_, stdout) != used_;
    used_ = 0;
  }
  [[nodiscard]] bool failed() const { return failed_; }

 private:
  std::vector<char> buffer_ = std::vector<char>(1 << 16);
  std::size_t used_ = 0;
  bool failed_ = false;
};

using Hook = int (*)(const char* piece, std::size_t length, Output& out);

int write_text(const char* piece, std::size_t length, Output& out) {
  out.put(piece, length);
  return out.failed() ? 1 : 0;
}

int write_tag(const char* piece, std::size_t length, Output& out) {
  out.put('<');
  out.put(piece, length);
  out.put('>');
  return out.failed() ? 1 : 0;
}

// Held in a volatile so that the calls stay indirect, as hook calls are.
volatile Hook text_hook = write_text;
volatile Hook tag_hook = write_tag;

}  // namespace

int main() {
  Output out;
  std::vector<char> input(1 << 16);
  std::vector<char> piece;
  bool in_tag = false;
  std::size_t got = 0;
  while ((got = fread_unlocked(input.data(), 1, input.size(), stdin)) > 0) {
    const char* p = input.data();
    const char* const end = p + got;
    while (p != end) {
      const auto* stop = static_cast<const char*>(std::memchr(p, in_tag ? '>' : '<', end - p));
      piece.insert(piece.end(), p, stop != nullptr ? stop : end);
      if (stop == nullptr) {
        break;
      }
      const Hook hook = in_tag ? tag_hook : text_hook;
      if ((in_tag || !piece.empty()) && hook(piece.data(), piece.size(), out) != 0) {
        return 1;
      }
      piece.clear();
      in_tag = !in_tag;
      p = stop + 1;
    }
  }
  if (in_tag) {
    out.put('<');  // an unterminated tag goes out as it came
  }
  const Hook hook = text_hook;
  const int result = hook(piece.data(), piece.size(), out);
  out.flush();
  return result != 0 || out.failed() || std::fflush(stdout) != 0 ? 1 : 0;
}
