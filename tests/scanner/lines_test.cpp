// Line streams: what is written comes out whole lines a write, at most
// PIPE_BUF bytes each unless one line is longer, and failures are known.
#include "scanner/lines.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>
#include <vector>

namespace {

// A socket pair of records: each write(2) of the stream arrives as one
// record, so the test sees exactly where the writes were cut.
class LinesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds_), 0);
    const int size = 1 << 22;
    ASSERT_EQ(setsockopt(fds_[0], SOL_SOCKET, SO_SNDBUF, &size, sizeof size), 0);
    ASSERT_EQ(setsockopt(fds_[1], SOL_SOCKET, SO_RCVBUF, &size, sizeof size), 0);
    stream_ = lines_open(fds_[0]);
    ASSERT_NE(stream_, nullptr);
  }
  void TearDown() override {
    if (stream_ != nullptr) {
      (void)lines_close(stream_);
    }
    close(fds_[0]);
    close(fds_[1]);
  }

  // The writes made so far, one string each.
  std::vector<std::string> writes() {
    std::vector<std::string> got;
    std::string record(1 << 20, '\0');
    for (;;) {
      const ssize_t n = recv(fds_[1], record.data(), record.size(), MSG_DONTWAIT);
      if (n <= 0) {
        return got;
      }
      got.emplace_back(record.data(), static_cast<std::size_t>(n));
    }
  }

  int fds_[2] = {-1, -1};
  std::FILE* stream_ = nullptr;
};

std::string joined(const std::vector<std::string>& parts) {
  std::string all;
  for (const auto& part : parts) {
    all += part;
  }
  return all;
}

TEST_F(LinesTest, WritesWholeLinesOnlyAndKeepsTheUnendedOne) {
  std::fputs("one\ntw", stream_);
  EXPECT_EQ(lines_flush_all(), 0);
  EXPECT_EQ(writes(), std::vector<std::string>{"one\n"});
  std::fputs("o\nthree", stream_);
  EXPECT_EQ(lines_flush_all(), 0);
  EXPECT_EQ(writes(), std::vector<std::string>{"two\n"});
  EXPECT_EQ(lines_drain(stream_), 0);
  EXPECT_EQ(writes(), std::vector<std::string>{"three"});
}

TEST_F(LinesTest, ManyLinesGoInWritesOfAtMostPipeBufEndingAtLineEnds) {
  std::string expected;
  for (int i = 0; i < 20000; ++i) {
    // Lengths of 1 to 300 bytes, so that the cuts fall everywhere.
    std::string line = "page" + std::to_string(i) + ".html:" + std::string(static_cast<std::size_t>(i * 37 % 290), 'x') + "\n";
    std::fputs(line.c_str(), stream_);
    expected += line;
  }
  ASSERT_EQ(lines_drain(stream_), 0);
  const auto got = writes();
  EXPECT_EQ(joined(got), expected);
  EXPECT_LT(got.size(), expected.size() / 1000) << "lines are batched";
  for (const auto& piece : got) {
    EXPECT_LE(piece.size(), static_cast<std::size_t>(PIPE_BUF));
    EXPECT_EQ(piece.back(), '\n');
  }
}

TEST_F(LinesTest, ALineLongerThanPipeBufGoesInAWriteOfItsOwn) {
  const std::string before = "short\n";
  const std::string longer = std::string(3 * PIPE_BUF, 'y') + "\n";
  const std::string after = "tail\n";
  std::fputs((before + longer + after).c_str(), stream_);
  ASSERT_EQ(lines_drain(stream_), 0);
  EXPECT_EQ(writes(), (std::vector<std::string>{before, longer, after}));
}

TEST_F(LinesTest, ALineLongerThanTheBufferComesOutWhole) {
  const std::string huge = std::string(200000, 'z') + "\n";
  std::fputs("a\n", stream_);
  std::fputs(huge.c_str(), stream_);
  std::fputs("b\n", stream_);
  ASSERT_EQ(lines_drain(stream_), 0);
  const auto got = writes();
  EXPECT_EQ(joined(got), "a\n" + huge + "b\n");
  EXPECT_EQ(got.front(), "a\n");
  // Its start went out when the buffer was full; the line after it is
  // whole, at the end of the last write.
  EXPECT_TRUE(got.back().ends_with("z\nb\n"));
}

TEST(Lines, AFailedWriteIsKeptAndTheRestDropped) {
  const int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  std::FILE* stream = lines_open(full);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(lines_error(stream), 0);
  std::fputs("lost\n", stream);
  EXPECT_EQ(lines_flush_all(), EOF);
  EXPECT_EQ(lines_error(stream), ENOSPC);
  std::fputs("also lost\n", stream);
  EXPECT_EQ(lines_drain(stream), EOF);
  EXPECT_EQ(lines_close(stream), EOF);
  close(full);
}

TEST(Lines, AStreamThatIsNotALineStreamIsRefused) {
  EXPECT_EQ(lines_drain(stdout), EOF);
  EXPECT_EQ(lines_close(stdout), EOF);
  EXPECT_EQ(lines_error(stdout), 0);
}

TEST(Lines, ANonBlockingPipeIsWaitedFor) {
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  ASSERT_EQ(fcntl(pipe_fds[1], F_SETFL, O_NONBLOCK), 0);
  std::FILE* stream = lines_open(pipe_fds[1]);
  ASSERT_NE(stream, nullptr);
  // More than a pipe holds: the writer must wait for the reader, a child.
  const std::string line(99, 'w');
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipe_fds[1]);
    std::size_t total = 0;
    char block[4096];
    for (ssize_t n; (n = read(pipe_fds[0], block, sizeof block)) > 0;) {
      total += static_cast<std::size_t>(n);
      usleep(200);
    }
    _exit(total == 10000 * (line.size() + 1) ? 0 : 1);
  }
  close(pipe_fds[0]);
  for (int i = 0; i < 10000; ++i) {
    std::fprintf(stream, "%s\n", line.c_str());
  }
  EXPECT_EQ(lines_close(stream), 0);
  close(pipe_fds[1]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
