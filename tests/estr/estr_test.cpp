// Unit tests for the extensible string, through its interface. Failures are
// collected by a capturing reporter installed for each test.
#include "estr/estr.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

// The record's layout is fixed by design (marker, buffer, length, capacity);
// the tests mirror it to read the capacity and to build records that are not
// live Estrs.
struct EstrLayout {
  std::uint32_t marker;
  char* buffer;
  std::uint32_t length;
  std::uint32_t capacity;
};

constexpr std::uint32_t kLiveMarker = 0xBBA9E588u;
constexpr std::uint32_t kDeadMarker = 0xAC1A5DCDu;
constexpr std::uint32_t kMax = std::numeric_limits<std::uint32_t>::max();

std::uint32_t capacity_of(const Estr* es) { return reinterpret_cast<const EstrLayout*>(es)->capacity; }

Estr* as_estr(EstrLayout* record) { return reinterpret_cast<Estr*>(record); }

struct EstrDeleter {
  void operator()(Estr* es) const { estr_destruct(&es); }
};
using EstrPtr = std::unique_ptr<Estr, EstrDeleter>;

std::vector<std::string> reports;

void capture_report(const char* message) { reports.emplace_back(message); }

// The content as a std::string, embedded NUL bytes included.
std::string content_of(Estr* es) {
  const std::uint32_t n = estr_size(es);
  const char* p = estr_c_str(es);
  return p == nullptr ? std::string("<null>") : std::string(p, n);
}

class EstrTest : public testing::Test {
 protected:
  void SetUp() override {
    reports.clear();
    estr_install_error_reporter(capture_report);
  }
  void TearDown() override { estr_install_error_reporter(nullptr); }
};

TEST_F(EstrTest, ConstructNRaisesSmallCapacitiesTo32) {
  const struct {
    std::uint32_t wanted;
    std::uint32_t capacity;
  } cases[] = {{0, 32}, {1, 32}, {31, 32}, {32, 32}, {33, 33}, {1000, 1000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.wanted);
    EstrPtr es(estr_construct_n(c.wanted));
    ASSERT_NE(es, nullptr);
    EXPECT_EQ(estr_valid(es.get()), 1);
    EXPECT_EQ(estr_size(es.get()), 0u);
    EXPECT_EQ(capacity_of(es.get()), c.capacity);
  }
  EstrPtr plain(estr_construct());
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(estr_size(plain.get()), 0u);
  EXPECT_EQ(capacity_of(plain.get()), 32u);
  EXPECT_TRUE(reports.empty());
}

TEST_F(EstrTest, ConstructFromStringAndMemory) {
  const std::string forty(40, 'q');
  const struct {
    const char* name;
    EstrPtr es;
    std::string content;
    std::uint32_t capacity;
  } cases[] = {
      {"str null", EstrPtr(estr_construct_str(nullptr)), "", 32},
      {"str empty", EstrPtr(estr_construct_str("")), "", 32},
      {"str short", EstrPtr(estr_construct_str("hello")), "hello", 32},
      {"str long", EstrPtr(estr_construct_str(forty.c_str())), forty, 40},
      {"mem with NUL inside", EstrPtr(estr_construct_mem("a\0b", 3)), std::string("a\0b", 3), 32},
      {"mem count below strlen", EstrPtr(estr_construct_mem("abcdef", 2)), "ab", 32},
      {"mem starting with NUL", EstrPtr(estr_construct_mem("\0abc", 4)), "", 32},
      {"mem null", EstrPtr(estr_construct_mem(nullptr, 5)), "", 32},
      {"mem zero count", EstrPtr(estr_construct_mem("abc", 0)), "", 32},
      {"mem long", EstrPtr(estr_construct_mem(forty.data(), 33)), forty.substr(0, 33), 33},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Estr* es = c.es.get();
    ASSERT_NE(es, nullptr);
    EXPECT_EQ(estr_size(es), c.content.size());
    EXPECT_EQ(capacity_of(es), c.capacity);  // before estr_c_str, which may grow it
    EXPECT_EQ(content_of(es), c.content);
  }
  EXPECT_TRUE(reports.empty());
}

// Growth is by half again: 32, 48, 72, 108; the content survives each move.
TEST_F(EstrTest, AppendingBytesGrowsByHalfAgain) {
  EstrPtr es(estr_construct());
  ASSERT_NE(es, nullptr);
  std::string model;
  const struct {
    std::uint32_t size;
    std::uint32_t capacity;
  } steps[] = {{32, 32}, {33, 48}, {48, 48}, {49, 72}, {72, 72}, {73, 108}};
  for (const auto& step : steps) {
    while (model.size() < step.size) {
      const char c = static_cast<char>('A' + model.size() % 26);
      ASSERT_EQ(estr_append_c(es.get(), c), 0);
      model += c;
    }
    SCOPED_TRACE(step.size);
    EXPECT_EQ(estr_size(es.get()), step.size);
    EXPECT_EQ(capacity_of(es.get()), step.capacity);
  }
  EXPECT_EQ(content_of(es.get()), model);
  EXPECT_TRUE(reports.empty());
}

TEST_F(EstrTest, AssignedShortStringLeavesRoomUntilThe33rdByte) {
  EstrPtr es(estr_construct());
  ASSERT_NE(es, nullptr);
  ASSERT_EQ(estr_assign_str(es.get(), "x"), 0);
  for (int i = 1; i < 32; ++i) {
    ASSERT_EQ(estr_append_c(es.get(), 'y'), 0);
  }
  EXPECT_EQ(estr_size(es.get()), 32u);
  EXPECT_EQ(capacity_of(es.get()), 32u);
  ASSERT_EQ(estr_append_c(es.get(), 'z'), 0);
  EXPECT_EQ(capacity_of(es.get()), 48u);
  std::string expected(1, 'x');
  expected.append(31, 'y').push_back('z');
  EXPECT_EQ(content_of(es.get()), expected);
}

// A block that does not fit gives capacity total + total/2 at once.
TEST_F(EstrTest, BlockAppendsAndAssignsMakeRoomInOneStep) {
  const std::string fifty(50, 'm');
  EstrPtr es(estr_construct_str("ab"));
  ASSERT_NE(es, nullptr);
  ASSERT_EQ(estr_append_mem(es.get(), fifty.data(), 38), 0);
  EXPECT_EQ(capacity_of(es.get()), 60u);
  ASSERT_EQ(estr_append_str(es.get(), "cd"), 0);
  EXPECT_EQ(capacity_of(es.get()), 60u);
  ASSERT_EQ(estr_append_str(es.get(), fifty.c_str()), 0);
  EXPECT_EQ(capacity_of(es.get()), 138u);
  EXPECT_EQ(content_of(es.get()), "ab" + fifty.substr(0, 38) + "cd" + fifty);

  EstrPtr fresh(estr_construct());
  ASSERT_NE(fresh, nullptr);
  ASSERT_EQ(estr_assign_str(fresh.get(), fifty.c_str()), 0);
  EXPECT_EQ(capacity_of(fresh.get()), 75u);
  EXPECT_EQ(content_of(fresh.get()), fifty);
  EXPECT_TRUE(reports.empty());
}

// Appending or assigning part of the string itself: the source must be read
// where it is after the buffer grows (under AddressSanitizer the old block is
// always freed), and may overlap where it goes.
TEST_F(EstrTest, ItsOwnContentCanBeAppendedAndAssigned) {
  const std::string start = "0123456789abcdefghijklmnopqrstu";
  EstrPtr es(estr_construct_str(start.c_str()));
  ASSERT_NE(es, nullptr);
  ASSERT_EQ(capacity_of(es.get()), 32u);
  ASSERT_EQ(estr_append_str(es.get(), estr_c_str(es.get())), 0);
  EXPECT_EQ(content_of(es.get()), start + start);
  ASSERT_EQ(estr_append_mem(es.get(), estr_c_str(es.get()) + 10, 52), 0);
  EXPECT_EQ(content_of(es.get()), start + start + (start + start).substr(10));
  ASSERT_EQ(estr_assign_str(es.get(), estr_c_str(es.get()) + 1), 0);
  EXPECT_EQ(content_of(es.get()), (start + start + (start + start).substr(10)).substr(1));
  EXPECT_TRUE(reports.empty());
}

TEST_F(EstrTest, AssignAndClearReplaceContentButNeverShrink) {
  EstrPtr es(estr_construct_str(std::string(100, 'a').c_str()));
  ASSERT_NE(es, nullptr);
  ASSERT_EQ(capacity_of(es.get()), 100u);
  ASSERT_EQ(estr_assign_str(es.get(), "short"), 0);
  EXPECT_EQ(content_of(es.get()), "short");
  EXPECT_EQ(capacity_of(es.get()), 100u);
  ASSERT_EQ(estr_assign_str(es.get(), nullptr), 0);
  EXPECT_EQ(estr_size(es.get()), 0u);
  ASSERT_EQ(estr_assign_str(es.get(), "again"), 0);
  ASSERT_EQ(estr_assign_str(es.get(), ""), 0);
  EXPECT_EQ(estr_size(es.get()), 0u);
  ASSERT_EQ(estr_append_str(es.get(), "xyz"), 0);
  estr_clear(es.get());
  EXPECT_EQ(estr_size(es.get()), 0u);
  EXPECT_EQ(capacity_of(es.get()), 100u);
  ASSERT_EQ(estr_append_c(es.get(), 'k'), 0);
  EXPECT_EQ(content_of(es.get()), "k");
  EXPECT_TRUE(reports.empty());
}

TEST_F(EstrTest, AppendCharStoresTheLowByte) {
  EstrPtr es(estr_construct());
  ASSERT_NE(es, nullptr);
  for (const int c : {0x141, -1, 0, 0x7F, 0x180}) {
    ASSERT_EQ(estr_append_c(es.get(), c), 0);
  }
  EXPECT_EQ(estr_size(es.get()), 5u);
  EXPECT_EQ(content_of(es.get()), std::string("A\xFF\0\x7F\x80", 5));
}

TEST_F(EstrTest, CStrTerminatesWithoutCountingTheNul) {
  EstrPtr es(estr_construct());
  ASSERT_NE(es, nullptr);
  const char* first = estr_c_str(es.get());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first[0], '\0');
  EXPECT_EQ(estr_size(es.get()), 0u);
  const char* second = estr_c_str(es.get());
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second[0], '\0');
  EXPECT_EQ(estr_size(es.get()), 0u);

  // Full to capacity: terminating needs room for one more byte.
  const std::string full(32, 'f');
  ASSERT_EQ(estr_assign_str(es.get(), full.c_str()), 0);
  ASSERT_EQ(capacity_of(es.get()), 32u);
  const char* p = estr_c_str(es.get());
  ASSERT_NE(p, nullptr);
  EXPECT_STREQ(p, full.c_str());
  EXPECT_EQ(estr_size(es.get()), 32u);
  EXPECT_EQ(capacity_of(es.get()), 48u);
  ASSERT_EQ(estr_append_c(es.get(), 'g'), 0);
  EXPECT_STREQ(estr_c_str(es.get()), (full + "g").c_str());
  EXPECT_TRUE(reports.empty());
}

TEST_F(EstrTest, NullBlocksAndEmptyStringsSucceedWithoutLooking) {
  EstrPtr es(estr_construct_str("keep"));
  ASSERT_NE(es, nullptr);
  EXPECT_EQ(estr_append_mem(es.get(), nullptr, 10), 0);
  EXPECT_EQ(estr_append_mem(es.get(), "zz", 0), 0);
  EXPECT_EQ(estr_append_str(es.get(), nullptr), 0);
  EXPECT_EQ(estr_append_str(es.get(), ""), 0);
  EXPECT_EQ(content_of(es.get()), "keep");

  EstrLayout dead{kDeadMarker, nullptr, 0, 0};
  for (Estr* bad : {static_cast<Estr*>(nullptr), as_estr(&dead)}) {
    EXPECT_EQ(estr_append_str(bad, ""), 0);
    EXPECT_EQ(estr_append_str(bad, nullptr), 0);
    EXPECT_EQ(estr_append_mem(bad, nullptr, 3), 0);
  }
  EXPECT_TRUE(reports.empty());
  // A zero count with a real block is still checked.
  EXPECT_EQ(estr_append_mem(nullptr, "x", 0), 1);
  EXPECT_EQ(reports, std::vector<std::string>{"Estr is null"});
}

// Every operation on something that is not a live Estr reports why once and
// fails, leaving the record untouched.
TEST_F(EstrTest, OperationsOnInvalidEstrsReportAndFail) {
  char spare[8] = "spare";
  EstrLayout dead{kDeadMarker, spare, 5, 8};
  EstrLayout garbage{0x12345678u, spare, 5, 8};
  const struct {
    const char* name;
    Estr* es;
    const char* message;
  } handles[] = {
      {"null", nullptr, "Estr is null"},
      {"destroyed", as_estr(&dead), "Estr has been destroyed"},
      {"garbage", as_estr(&garbage), "Estr is invalid"},
  };
  for (const auto& h : handles) {
    SCOPED_TRACE(h.name);
    const std::vector<std::string> one{h.message};
    const auto expect_one_report = [&](const char* operation) {
      SCOPED_TRACE(operation);
      EXPECT_EQ(reports, one);
      reports.clear();
    };
    EXPECT_EQ(estr_valid(h.es), 0);
    expect_one_report("valid");
    EXPECT_EQ(estr_size(h.es), 0u);
    expect_one_report("size");
    estr_clear(h.es);
    expect_one_report("clear");
    EXPECT_EQ(estr_assign_str(h.es, "abc"), 1);
    expect_one_report("assign");
    EXPECT_EQ(estr_assign_str(h.es, nullptr), 1);
    expect_one_report("assign null");
    EXPECT_EQ(estr_append_c(h.es, 'x'), 1);
    expect_one_report("append_c");
    EXPECT_EQ(estr_append_str(h.es, "x"), 1);
    expect_one_report("append_str");
    EXPECT_EQ(estr_append_mem(h.es, "x", 1), 1);
    expect_one_report("append_mem");
    EXPECT_EQ(estr_c_str(h.es), nullptr);
    expect_one_report("c_str");
  }
  for (const EstrLayout* record : {&dead, &garbage}) {
    EXPECT_EQ(record->buffer, spare);
    EXPECT_EQ(record->length, 5u);
    EXPECT_EQ(record->capacity, 8u);
  }
  EXPECT_STREQ(spare, "spare");
}

TEST_F(EstrTest, DestructReleasesAndNullsTheOwner) {
  estr_destruct(nullptr);
  Estr* none = nullptr;
  estr_destruct(&none);
  EXPECT_EQ(none, nullptr);

  Estr* es = estr_construct_str("bye");
  ASSERT_NE(es, nullptr);
  estr_destruct(&es);
  EXPECT_EQ(es, nullptr);
  estr_destruct(&es);  // a second destruction through the same owner does nothing
  EXPECT_EQ(es, nullptr);
  EXPECT_TRUE(reports.empty());
}

// Sizes that would pass 2^32 - 1 fail before any arithmetic wraps and before
// any allocation, and leave the Estr as it was.
TEST_F(EstrTest, GrowthPastThe32BitLimitFailsWithAReport) {
  EstrPtr es(estr_construct_str("ab"));
  ASSERT_NE(es, nullptr);
  EXPECT_EQ(estr_append_mem(es.get(), "x", kMax - 1), 1);
  EXPECT_EQ(reports, std::vector<std::string>{"estr_append_mem: Cannot expand buffer"});
  EXPECT_EQ(content_of(es.get()), "ab");
  EXPECT_EQ(capacity_of(es.get()), 32u);
  reports.clear();

  char small[4] = "abc";
  EstrLayout full{kLiveMarker, small, kMax, kMax};
  Estr* huge = as_estr(&full);
  ASSERT_EQ(estr_valid(huge), 1);
  EXPECT_EQ(estr_append_c(huge, 'x'), 1);
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.front(), "expand: unable to extend Estr buffer");
  reports.clear();
  EXPECT_EQ(estr_c_str(huge), nullptr);
  EXPECT_FALSE(reports.empty());
  reports.clear();
  EXPECT_EQ(estr_append_mem(huge, "x", 1), 1);
  EXPECT_EQ(reports, std::vector<std::string>{"estr_append_mem: Cannot expand buffer"});
  reports.clear();
  EXPECT_EQ(estr_append_str(huge, "x"), 1);
  EXPECT_EQ(reports, std::vector<std::string>{"estr_append_str: Cannot expand buffer"});
  EXPECT_EQ(full.buffer, small);
  EXPECT_EQ(full.length, kMax);
  EXPECT_EQ(full.capacity, kMax);
  EXPECT_EQ(full.marker, kLiveMarker);
}

TEST_F(EstrTest, InstallingReturnsThePreviousReporterAndNullRestoresTheDefault) {
  EXPECT_EQ(estr_install_error_reporter(nullptr), &capture_report);
  const EstrReporter fallback = estr_install_error_reporter(capture_report);
  ASSERT_NE(fallback, nullptr);
  EXPECT_NE(fallback, &capture_report);
  EXPECT_EQ(estr_install_error_reporter(nullptr), &capture_report);
  EXPECT_EQ(estr_install_error_reporter(nullptr), fallback);

  // The default writes each message and a newline to standard error.
  testing::internal::CaptureStderr();
  EXPECT_EQ(estr_valid(nullptr), 0);
  EXPECT_EQ(estr_append_c(nullptr, 'x'), 1);
  fallback(nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Estr is null\nEstr is null\n");
  EXPECT_TRUE(reports.empty());
}

}  // namespace
