// Fuzz target: the bytes are a configuration file, read by cfg_read into a
// fresh Config. Whatever the reader decides, the Config must stay live and
// answer every query with an action it can hold.
#include <cstddef>
#include <cstdint>

#include "config/config.h"
#include "fuzz_util.h"

namespace {

// Up to kCfgNameMax word characters from the start of the input, upper
// cased: a name the input may well have configured.
void first_word(const std::uint8_t* data, std::size_t size, char (&name)[kCfgNameMax + 1]) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < size && n < kCfgNameMax; ++i) {
    const char c = static_cast<char>(data[i]);
    const bool word = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    if (word) {
      name[n++] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    } else if (n > 0) {
      break;
    }
  }
  name[n] = '\0';
}

void check_queries(const Config* config, const char* word) {
  const char* tags[] = {"A", "IMG", "SCRIPT", "P", "DEFAULT", word};
  const char* attributes[] = {"HREF", "SRC", "ONCLICK", "TITLE", word};
  for (const char* tag : tags) {
    const Action action = cfg_action(config, tag);
    if (action < ACTION_KEEP || action > ACTION_EDIT) {
      fuzz::fail("cfg_action gave an action out of range");
    }
    for (const char* attribute : attributes) {
      const Action attr = cfg_attr_action(config, tag, attribute);
      if (attr < ACTION_KEEP || attr > ACTION_DROP) {
        fuzz::fail("cfg_attr_action gave an action out of range");
      }
    }
  }
  const Action comment = cfg_comment_action(config);
  if (comment < ACTION_KEEP || comment > ACTION_DROP) {
    fuzz::fail("cfg_comment_action gave an action out of range");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::quiet();
  Config* config = cfg_construct();
  if (cfg_valid(config) == 0) {
    fuzz::fail("cfg_construct failed");
  }
  {
    fuzz::Input input(data, size);
    const int status = cfg_read(input.stream(), config);
    // Every error in the file has a place, and a good file none.
    if ((status != 0) != (cfg_error_place().line != 0)) {
      fuzz::fail("cfg_read's status and its error place disagree");
    }
  }
  if (cfg_valid(config) == 0) {
    fuzz::fail("cfg_read left the Config dead");
  }
  char word[kCfgNameMax + 1];
  first_word(data, size, word);
  check_queries(config, word);
  cfg_release(&config);
  if (config != nullptr) {
    fuzz::fail("cfg_release did not clear the pointer");
  }
  return 0;
}
