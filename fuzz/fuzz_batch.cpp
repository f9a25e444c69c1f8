// Fuzz target: the bytes are one line of batch mode's input. Whatever the
// reader decides, it reads only the line; a request it accepts, written
// back as batch mode writes JSON (the id's text as echoed, the document as
// a string) and read again, must give the same id text's reading and the
// same document bytes, those that are not UTF-8 included.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "driver/json.h"
#include "driver/jsonread.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A copy of exactly the line's size, so that a read past it is caught.
  const std::unique_ptr<char[]> line(new char[size == 0 ? 1 : size]);
  std::memcpy(line.get(), data, size);
  BatchRequest request;
  if (read_batch_request(line.get(), line.get() + size, &request) != nullptr) {
    return 0;
  }
  std::string id;
  if (request.id.empty()) {
    id.append("null");
  } else {
    append_json_text(id, request.id.data(), request.id.size());
  }
  std::string again = "{\"id\":" + id + ",\"html\":";
  append_json_string(again, request.html.data(), request.html.size());
  again.push_back('}');
  BatchRequest second;
  if (read_batch_request(again.data(), again.data() + again.size(), &second) != nullptr) {
    fuzz::fail("a request written back is not read");
  }
  if (second.html != request.html) {
    fuzz::fail("the document's bytes changed on the way back");
  }
  if (second.id != id) {
    fuzz::fail("the id changed on the way back");
  }
  return 0;
}
