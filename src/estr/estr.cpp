// Extensible string. Lengths and capacities are 32-bit; every growth step that
// would pass 2^32 - 1 fails with a report instead of wrapping. Buffers grow by
// half again, so collecting n bytes costs O(log n) reallocations.
#include "estr/estr.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

struct Estr {
  std::uint32_t marker;
  char* buffer;
  std::uint32_t length;
  std::uint32_t capacity;
};

namespace {

constexpr std::uint32_t kLiveMarker = 0xBBA9E588u;
constexpr std::uint32_t kDeadMarker = 0xAC1A5DCDu;
constexpr std::uint32_t kMinCapacity = 32;
constexpr std::uint32_t kFallbackStep = 128;
constexpr std::uint32_t kMaxSize = std::numeric_limits<std::uint32_t>::max();

void default_reporter(const char* message) {
  if (message != nullptr) {
    std::fputs(message, stderr);
    std::fputc('\n', stderr);
  }
}

EstrReporter report = default_reporter;

// Replaces the buffer by one of exactly size bytes, keeping the content.
// realloc keeps the old block on failure and can often grow in place, which
// spares the copy and the transient double footprint of a huge piece.
int expand_n(Estr* es, std::uint32_t size) {
  void* grown = std::realloc(es->buffer, size);
  if (grown == nullptr) {
    report("expand_n: out of memory for expanding Estr");
    return 1;
  }
  es->buffer = static_cast<char*>(grown);
  es->capacity = size;
  return 0;
}

// Grows the capacity by half again.
int expand(Estr* es) {
  const std::uint32_t half = es->capacity / 2;
  if (half > kMaxSize - es->capacity) {
    report("expand: unable to extend Estr buffer");
    return 1;
  }
  return expand_n(es, es->capacity + half);
}

// The capacity wanted for a total of n bytes: n and half again, or n itself
// when that would pass the limit.
std::uint32_t roomy(std::uint32_t n) {
  return n / 2 > kMaxSize - n ? n : n + n / 2;
}

// Makes room for one more byte: half again, else 128 more, else one more.
// The last two are skipped when they would pass the limit, since a wrapped
// size would be smaller than the content.
int make_room_for_one(Estr* es) {
  if (expand(es) == 0) {
    return 0;
  }
  if (es->capacity <= kMaxSize - kFallbackStep && expand_n(es, es->capacity + kFallbackStep) == 0) {
    return 0;
  }
  if (es->capacity < kMaxSize && expand_n(es, es->capacity + 1) == 0) {
    return 0;
  }
  return 1;
}

// Where mem lies in the string's own buffer, or -1: a caller may append or
// assign part of the string itself, which growing the buffer would free
// and which may overlap where it goes.
std::ptrdiff_t offset_in_buffer(const Estr* es, const void* mem) {
  const auto at = reinterpret_cast<std::uintptr_t>(mem);
  const auto begin = reinterpret_cast<std::uintptr_t>(es->buffer);
  return at >= begin && at - begin < es->capacity ? static_cast<std::ptrdiff_t>(at - begin) : -1;
}

int append_block(Estr* es, const void* mem, std::uint32_t count, const char* overflow_message) {
  if (estr_valid(es) == 0) {
    return 1;
  }
  if (count > kMaxSize - es->length) {
    report(overflow_message);
    return 1;
  }
  const std::uint32_t total = es->length + count;
  const std::ptrdiff_t own = offset_in_buffer(es, mem);
  if (total > es->capacity && expand_n(es, roomy(total)) != 0) {
    return 1;
  }
  if (count > 0) {
    std::memmove(es->buffer + es->length, own >= 0 ? es->buffer + own : mem, count);
  }
  es->length = total;
  return 0;
}

// strlen, refusing strings that an Estr could never hold.
bool checked_length(const char* str, std::uint32_t* out) {
  const std::size_t n = std::strlen(str);
  if (n > kMaxSize) {
    return false;
  }
  *out = static_cast<std::uint32_t>(n);
  return true;
}

}  // namespace

Estr* estr_construct() { return estr_construct_n(kMinCapacity); }

Estr* estr_construct_n(std::uint32_t wanted) {
  const std::uint32_t capacity = wanted < kMinCapacity ? kMinCapacity : wanted;
  auto* es = static_cast<Estr*>(std::malloc(sizeof(Estr)));
  char* buffer = es == nullptr ? nullptr : static_cast<char*>(std::malloc(capacity));
  if (buffer == nullptr) {
    report("estr_construct_n: out of memory");
    std::free(es);
    return nullptr;
  }
  es->marker = kLiveMarker;
  es->buffer = buffer;
  es->length = 0;
  es->capacity = capacity;
  return es;
}

Estr* estr_construct_str(const char* str) {
  std::uint32_t n = 0;
  if (str != nullptr && !checked_length(str, &n)) {
    report("estr_construct_n: out of memory");
    return nullptr;
  }
  return estr_construct_mem(str, n);
}

Estr* estr_construct_mem(const void* mem, std::uint32_t count) {
  const auto* bytes = static_cast<const char*>(mem);
  if (count == 0 || bytes == nullptr || bytes[0] == '\0') {
    return estr_construct();
  }
  Estr* es = estr_construct_n(count);
  if (es != nullptr) {
    std::memcpy(es->buffer, bytes, count);
    es->length = count;
  }
  return es;
}

void estr_destruct(Estr** owner) {
  if (owner == nullptr) {
    return;
  }
  Estr* es = *owner;
  if (es != nullptr) {
    std::free(es->buffer);
    es->buffer = nullptr;
    es->marker = kDeadMarker;
    std::free(es);
  }
  *owner = nullptr;
}

int estr_valid(const Estr* es) {
  if (es == nullptr) {
    report("Estr is null");
    return 0;
  }
  if (es->marker == kLiveMarker) {
    return 1;
  }
  report(es->marker == kDeadMarker ? "Estr has been destroyed" : "Estr is invalid");
  return 0;
}

std::uint32_t estr_size(const Estr* es) { return estr_valid(es) != 0 ? es->length : 0; }

void estr_clear(Estr* es) {
  if (estr_valid(es) != 0) {
    es->length = 0;
  }
}

int estr_assign_str(Estr* es, const char* str) {
  if (estr_valid(es) == 0) {
    return 1;
  }
  std::uint32_t n = 0;
  if (str != nullptr && !checked_length(str, &n)) {
    report("expand_n: out of memory for expanding Estr");
    return 1;
  }
  if (n > es->capacity && expand_n(es, roomy(n)) != 0 && expand_n(es, n) != 0) {
    return 1;
  }
  if (n > 0) {
    std::memmove(es->buffer, str, n);  // str may be a part of the string itself
  }
  es->length = n;
  return 0;
}

int estr_append_c(Estr* es, int c) {
  if (estr_valid(es) == 0) {
    return 1;
  }
  if (es->length == es->capacity && make_room_for_one(es) != 0) {
    return 1;
  }
  es->buffer[es->length++] = static_cast<char>(c);
  return 0;
}

int estr_append_str(Estr* es, const char* str) {
  if (str == nullptr || str[0] == '\0') {
    return 0;
  }
  std::uint32_t n = 0;
  if (!checked_length(str, &n)) {
    report("estr_append_str: Cannot expand buffer");
    return 1;
  }
  return append_block(es, str, n, "estr_append_str: Cannot expand buffer");
}

int estr_append_mem(Estr* es, const void* mem, std::uint32_t count) {
  if (mem == nullptr) {
    return 0;
  }
  return append_block(es, mem, count, "estr_append_mem: Cannot expand buffer");
}

char* estr_c_str(Estr* es) {
  if (estr_append_c(es, '\0') != 0) {
    return nullptr;
  }
  --es->length;
  return es->buffer;
}

EstrReporter estr_install_error_reporter(EstrReporter reporter) {
  const EstrReporter previous = report;
  report = reporter != nullptr ? reporter : default_reporter;
  return previous;
}
