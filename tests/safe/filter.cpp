// Filters many documents with one configuration in one process, each as
// `tessel -f CONFIG` filters it alone: the composition test filters
// thousands, and a process for each would cost it most of its time.
//
//   safe_filter CONFIG < DOCUMENTS > OUTPUTS
//
// Each document, and each output, is framed as its length in decimal, a
// line feed and its bytes. Warnings go to standard error.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/config.h"
#include "policy/tscrub02.h"
#include "scanner/scrub.h"

namespace {

// The next framed document on standard input; false at its end.
bool read_document(std::string* doc) {
  unsigned long length = 0;
  if (std::scanf("%lu", &length) != 1 || std::getchar() != '\n') {
    return false;
  }
  doc->resize(length);
  return std::fread(doc->data(), 1, length, stdin) == length;
}

// Filters doc as the program does; the output goes to *text.
int filter(const std::string& doc, std::string* text) {
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&buffer, &size);
  std::FILE* in = doc.empty() ? std::fopen("/dev/null", "r") : fmemopen(const_cast<char*>(doc.data()), doc.size(), "r");
  if (out == nullptr || in == nullptr) {
    return 1;
  }
  const int status = scrub_html(in, out);
  (void)scrub_tag(nullptr, nullptr, 0);  // the reset between documents
  std::fclose(in);
  std::fclose(out);
  text->assign(buffer, size);
  std::free(buffer);
  return status;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fputs("usage: safe_filter CONFIG < DOCUMENTS\n", stderr);
    return 2;
  }
  std::FILE* cfg_file = std::fopen(argv[1], "r");
  Config* config = cfg_construct();
  if (cfg_file == nullptr || cfg_valid(config) == 0 || cfg_read(cfg_file, config) != 0) {
    std::fprintf(stderr, "safe_filter: cannot read %s\n", argv[1]);
    return 1;
  }
  std::fclose(cfg_file);
  install_config(config);
  install_tag_scrubber(scrub_tag);
  install_text_scrubber(scrub_text);
  install_comment_scrubber(scrub_comment);
  install_safe_scan(cfg_mode(config) == MODE_SAFE);
  std::string doc;
  std::string text;
  int status = 0;
  while (status == 0 && read_document(&doc)) {
    status = filter(doc, &text);
    std::printf("%zu\n", text.size());
    std::fwrite(text.data(), 1, text.size(), stdout);
  }
  install_config(nullptr);
  cfg_release(&config);
  return status;
}
