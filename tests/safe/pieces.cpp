// Prints the markup pieces that the safe-mode scanner finds in each document
// read from standard input (documents separated by the byte 0x01): one line
// per tag ("T") or comment ("C") with the piece in hex, "=" after each
// document. The differential test compares them with a browser tokenizer.
#include <cstdio>
#include <string>

#include "scanner/scrub.h"

namespace {

void print_piece(char kind, const char* piece) {
  std::printf("%c ", kind);
  for (const char* p = piece; *p != '\0'; ++p) {
    std::printf("%02x", static_cast<unsigned char>(*p));
  }
  std::printf("\n");
}

int record_tag(const char* piece, std::FILE* /*out*/, unsigned long /*line*/) {
  print_piece('T', piece);
  return 0;
}

int record_comment(const char* piece, std::FILE* /*out*/, unsigned long /*line*/) {
  print_piece('C', piece);
  return 0;
}

int ignore_text(const char* /*piece*/, std::FILE* /*out*/, unsigned long /*line*/) { return 0; }

int scan(const std::string& doc) {
  std::FILE* in = fmemopen(const_cast<char*>(doc.data()), doc.size(), "r");
  if (in == nullptr) {
    return 0;  // an empty document has no pieces
  }
  const int result = scrub_html(in, stdout);
  std::fclose(in);
  return result;
}

}  // namespace

int main() {
  install_tag_scrubber(record_tag);
  install_comment_scrubber(record_comment);
  install_text_scrubber(ignore_text);
  install_safe_scan(true);
  std::string doc;
  int c = 0;
  while ((c = std::getchar()) != EOF) {
    if (c == 1) {
      if (scan(doc) != 0) {
        return 1;
      }
      std::printf("=\n");
      doc.clear();
    } else {
      doc.push_back(static_cast<char>(c));
    }
  }
  return 0;
}
