// Reference split loop for the end-to-end benchmarks: the least a filter
// that hands each piece of markup to a function must do. It splits standard
// input into text runs and tags at '<' and '>' (with memchr, no state
// machine, no names, no policy), gathers each piece in a buffer, hands it
// through a function pointer to a hook that writes it, and so copies the
// input unchanged. Its time over the copy loop's is the floor of the cost
// per piece: on input made of short pieces no such filter can come closer
// to the copy loop than this.
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

using Hook = int (*)(const char* piece, std::size_t length, std::FILE* out);

int write_text(const char* piece, std::size_t length, std::FILE* out) {
  return fwrite_unlocked(piece, 1, length, out) == length ? 0 : 1;
}

int write_tag(const char* piece, std::size_t length, std::FILE* out) {
  const bool written = putc_unlocked('<', out) != EOF && fwrite_unlocked(piece, 1, length, out) == length &&
                       putc_unlocked('>', out) != EOF;
  return written ? 0 : 1;
}

// Held in a volatile so that the calls stay indirect, as hook calls are.
volatile Hook text_hook = write_text;
volatile Hook tag_hook = write_tag;

}  // namespace

int main() {
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
      if ((in_tag || !piece.empty()) && hook(piece.data(), piece.size(), stdout) != 0) {
        return 1;
      }
      piece.clear();
      in_tag = !in_tag;
      p = stop + 1;
    }
  }
  if (in_tag) {
    std::putc('<', stdout);  // an unterminated tag goes out as it came
  }
  const Hook hook = text_hook;
  return hook(piece.data(), piece.size(), stdout);
}
