// Check mode in worker processes (see the header for the contract).
//
// Each worker is joined to the parent by a stream socket of its own. The
// parent sends a request per file (the name, and the open descriptor as
// SCM_RIGHTS when the walk opened it), kBatch requests at a time in one
// message, and keeps at most kDepth files outstanding per worker, so that
// a worker finds its next files waiting when it is done with one: on a
// tree of small pages, a message and a wake-up per file cost the parent
// about as much as checking the file costs a worker. A worker answers each
// request, in order, with one record: a header (sizes and counts) and the
// bytes that the file wrote to standard output and to standard error; the
// records come one by one, so that the parent knows which file a worker
// that dies was checking.
//
// The parent keeps the files in a queue in the order they were named,
// each pending until its record arrives, and writes out the front of the
// queue as soon as it is complete. The queue holds at most kWindowPerWorker
// files a worker, so memory stays flat however many files there are: only
// the output of files checked ahead of a slow one waits, each whole.
//
// A worker that dies (a crash, a kill) shows as the end of its socket:
// the file it was checking is reported as trouble, the files sent to it
// after that one go to the other workers, and when none is left the parent
// checks the rest itself. Workers ask to be killed when the parent dies,
// so that no worker outlives a parent ended by a signal or a broken pipe.
#include "driver/jobs.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr std::size_t kBatch = 8;
constexpr std::size_t kDepth = 2 * kBatch;
constexpr std::size_t kWindowPerWorker = 2 * kDepth;
// Descriptors left for the walk (one per level of the tree), the standard
// streams and the configuration.
constexpr long kReservedDescriptors = 32;

struct RequestHeader {
  std::uint64_t name_size;
  std::uint32_t has_fd;
  std::uint32_t padding;
};

struct ResultHeader {
  std::uint64_t out_size;
  std::uint64_t err_size;
  JobCounts counts;
};

enum class ItemKind { kPending, kChecked, kTrouble };

struct Item {
  ItemKind kind = ItemKind::kPending;
  std::string name;
  std::string message;  // trouble: the reason
  std::string out;      // checked: what the file wrote to standard output
  std::string err;      // and to standard error
  JobCounts counts;
  int fd = -1;          // the parent's copy, kept until the file is done
  bool is_file = true;
};

struct Worker {
  pid_t pid = -1;
  int sock = -1;  // -1 once the worker is gone
  std::deque<std::uint64_t> outstanding;  // sequence numbers, as sent
  std::string inbox;  // bytes of records not yet whole
};

const JobHooks* hooks = nullptr;
std::vector<Worker> workers;
std::deque<Item> queue;
std::uint64_t front_sequence = 0;  // the sequence number of queue.front()
std::size_t window = 1;
std::deque<std::uint64_t> orphans;  // sent to a worker that died before them
std::vector<std::uint64_t> batch;   // files not yet sent
bool stopped = false;

// Where a check's output is gathered: streams that append to a string.
std::string captured_out;
std::string captured_err;
std::FILE* capture_out = nullptr;
std::FILE* capture_err = nullptr;

ssize_t append_to_string(void* cookie, const char* bytes, std::size_t count) {
  static_cast<std::string*>(cookie)->append(bytes, count);
  return static_cast<ssize_t>(count);
}

std::FILE* open_capture(std::string* into) {
  const cookie_io_functions_t functions{nullptr, append_to_string, nullptr, nullptr};
  std::FILE* stream = fopencookie(into, "w", functions);
  if (stream != nullptr) {
    (void)std::setvbuf(stream, nullptr, _IOFBF, std::size_t{1} << 16);
  }
  return stream;
}

bool open_captures() {
  if (capture_out == nullptr) {
    capture_out = open_capture(&captured_out);
  }
  if (capture_err == nullptr) {
    capture_err = open_capture(&captured_err);
  }
  return capture_out != nullptr && capture_err != nullptr;
}

void close_captures() {
  for (std::FILE** stream : {&capture_out, &capture_err}) {
    if (*stream != nullptr) {
      std::fclose(*stream);
      *stream = nullptr;
    }
  }
  captured_out = std::string();
  captured_err = std::string();
}

// Checks one file with standard error and the findings gathered in
// captured_err and captured_out, which hold that file's output after.
JobCounts check_captured(const char* name, int fd) {
  captured_out.clear();
  captured_err.clear();
  std::FILE* const real_stderr = stderr;
  stderr = capture_err;
  JobCounts counts;
  hooks->check(name, fd, capture_out, &counts);
  (void)std::fflush(capture_out);
  (void)std::fflush(capture_err);
  stderr = real_stderr;
  return counts;
}

// Sends or receives all of count bytes; false when the peer is gone.
bool send_all(int sock, const char* bytes, std::size_t count) {
  while (count != 0) {
    const ssize_t sent = send(sock, bytes, count, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) {
      continue;
    }
    if (sent <= 0) {
      return false;
    }
    bytes += sent;
    count -= static_cast<std::size_t>(sent);
  }
  return true;
}

// What a worker has received and not yet taken: bytes of requests, and
// the descriptors that came with them, in order.
struct Received {
  std::string bytes;
  std::size_t used = 0;
  std::deque<int> fds;
};

// Reads more requests: false when the parent has no more.
bool receive_more(int sock, Received& in) {
  in.bytes.erase(0, in.used);
  in.used = 0;
  std::array<char, std::size_t{1} << 16> chunk{};
  std::array<char, CMSG_SPACE(sizeof(int) * kBatch)> control{};
  iovec part{chunk.data(), chunk.size()};
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  message.msg_control = control.data();
  message.msg_controllen = control.size();
  ssize_t got = 0;
  do {
    got = recvmsg(sock, &message, MSG_CMSG_CLOEXEC);
  } while (got < 0 && errno == EINTR);
  if (got <= 0) {
    return false;
  }
  in.bytes.append(chunk.data(), static_cast<std::size_t>(got));
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS) {
      const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
      for (std::size_t i = 0; i < count; ++i) {
        int fd = -1;
        std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
        in.fds.push_back(fd);
      }
    }
  }
  return true;
}

// A worker's next request: false when the parent has no more. A
// descriptor comes with the bytes of the message that carries it, so it
// is there by the time its request is whole.
bool receive_request(int sock, Received& in, std::string* name, int* fd) {
  for (;;) {
    RequestHeader header{};
    const std::size_t held = in.bytes.size() - in.used;
    if (held >= sizeof header) {
      std::memcpy(&header, in.bytes.data() + in.used, sizeof header);
    }
    if (held >= sizeof header && held - sizeof header >= header.name_size) {
      if (header.has_fd != 0 && in.fds.empty()) {
        return false;  // cannot happen: the parent sends one with each
      }
      name->assign(in.bytes, in.used + sizeof header, header.name_size);
      in.used += sizeof header + header.name_size;
      *fd = -1;
      if (header.has_fd != 0) {
        *fd = in.fds.front();
        in.fds.pop_front();
      }
      return true;
    }
    if (!receive_more(sock, in)) {
      return false;
    }
  }
}

// Checks the files the parent sends until it sends no more.
void serve(int sock) {
  Received in;
  std::string name;
  std::string record;
  int fd = -1;
  while (receive_request(sock, in, &name, &fd)) {
    const JobCounts counts = check_captured(name.c_str(), fd);
    const ResultHeader header{captured_out.size(), captured_err.size(), counts};
    record.assign(reinterpret_cast<const char*>(&header), sizeof header);
    record.append(captured_out).append(captured_err);
    if (!send_all(sock, record.data(), record.size())) {
      return;
    }
  }
}

// Becomes a worker on sock: the parent's ends of the other workers'
// sockets are closed (the parent alone must hold them, or a worker's end
// would not show when the parent's does), standard output is /dev/null,
// and the worker dies with the parent.
void become_worker(int sock, pid_t parent) {
  for (Worker& w : workers) {
    close(w.sock);
  }
  workers.clear();
  (void)prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) {
    _exit(2);  // the parent died before the request took hold
  }
  const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null_fd < 0 || dup2(null_fd, STDOUT_FILENO) < 0 || !open_captures()) {
    _exit(2);  // the parent sees the worker gone and checks without it
  }
  close(null_fd);
  serve(sock);
  close(sock);
  close_captures();
}

// How many workers the descriptors allow: each holds a socket and the
// files outstanding on it, and the parent the files of the next message.
int affordable_workers(int wanted) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
    return wanted;
  }
  const long spare = static_cast<long>(std::min<rlim_t>(limit.rlim_cur, 1 << 20)) - kReservedDescriptors -
                   static_cast<long>(kBatch);
  const long each = 1 + static_cast<long>(kDepth);
  return static_cast<int>(std::clamp(spare / each, 0L, static_cast<long>(wanted)));
}

Item& item_at(std::uint64_t sequence) { return queue[static_cast<std::size_t>(sequence - front_sequence)]; }

void close_item_fd(Item& item) {
  if (item.fd >= 0) {
    close(item.fd);
    item.fd = -1;
  }
}

// Writes out the files at the front of the queue that are complete.
void deliver_ready() {
  while (!queue.empty() && queue.front().kind != ItemKind::kPending) {
    Item& item = queue.front();
    if (!stopped && item.kind == ItemKind::kChecked) {
      stopped = !hooks->deliver(item.out.data(), item.out.size(), item.err.data(), item.err.size(), item.counts);
    } else if (!stopped) {
      hooks->trouble(item.name.c_str(), item.message.c_str(), item.is_file);
    }
    queue.pop_front();
    ++front_sequence;
  }
}

// Takes the whole records in w's inbox, each for its oldest outstanding file.
void take_records(Worker& w) {
  std::size_t used = 0;
  while (w.inbox.size() - used >= sizeof(ResultHeader) && !w.outstanding.empty()) {
    ResultHeader header{};
    std::memcpy(&header, w.inbox.data() + used, sizeof header);
    const std::size_t body = used + sizeof header;
    if (w.inbox.size() - body < header.out_size || w.inbox.size() - body - header.out_size < header.err_size) {
      break;
    }
    Item& item = item_at(w.outstanding.front());
    w.outstanding.pop_front();
    item.kind = ItemKind::kChecked;
    item.out.assign(w.inbox, body, header.out_size);
    item.err.assign(w.inbox, body + header.out_size, header.err_size);
    item.counts = header.counts;
    close_item_fd(item);
    used = body + header.out_size + header.err_size;
  }
  w.inbox.erase(0, used);
}

// Waits for the process pid to end: its status, or -1 when it cannot be had.
int wait_for(pid_t pid) {
  int status = 0;
  pid_t waited = 0;
  do {
    waited = waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  return waited < 0 ? -1 : status;
}

// How a process ended, as the end of a sentence.
std::string describe_end(int status) {
  if (status == -1) {
    return "ended";
  }
  if (WIFSIGNALED(status)) {
    return "was ended by signal " + std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) + ")";
  }
  return "exited with status " + std::to_string(WEXITSTATUS(status));
}

// A worker's socket has ended: the file it was checking cannot be, and
// the files sent after it wait for another worker.
void lose_worker(Worker& w) {
  close(w.sock);
  w.sock = -1;
  w.inbox.clear();
  const std::string end = describe_end(wait_for(w.pid));
  w.pid = -1;
  if (w.outstanding.empty()) {
    return;
  }
  Item& item = item_at(w.outstanding.front());
  w.outstanding.pop_front();
  close_item_fd(item);
  item.kind = ItemKind::kTrouble;
  item.message = "Unable to check input file " + item.name + ": its worker process " + end;
  orphans.insert(orphans.end(), w.outstanding.begin(), w.outstanding.end());
  w.outstanding.clear();
}

// Reads what w has sent; loses it when its socket has ended.
void read_worker(Worker& w) {
  std::array<char, std::size_t{1} << 16> chunk{};
  for (;;) {
    const ssize_t got = recv(w.sock, chunk.data(), chunk.size(), MSG_DONTWAIT);
    if (got > 0) {
      w.inbox.append(chunk.data(), static_cast<std::size_t>(got));
      if (static_cast<std::size_t>(got) == chunk.size()) {
        continue;
      }
      take_records(w);  // a short read took all there was
      return;
    }
    if (got < 0 && errno == EINTR) {
      continue;
    }
    take_records(w);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return;
    }
    lose_worker(w);
    return;
  }
}

void dispatch(std::uint64_t sequence);

// Waits for some worker to answer, takes what came, finds the files of a
// lost worker another, and writes out what is complete.
void pump() {
  std::vector<pollfd> ready;
  for (const Worker& w : workers) {
    if (w.sock >= 0) {
      ready.push_back(pollfd{w.sock, POLLIN, 0});
    }
  }
  // A signal ends the poll early: the caller asks again.
  if (!ready.empty() && poll(ready.data(), ready.size(), -1) > 0) {
    std::size_t next = 0;
    for (Worker& w : workers) {
      if (w.sock >= 0 && ready[next++].revents != 0) {
        read_worker(w);
      }
    }
  }
  while (!orphans.empty()) {
    const std::uint64_t sequence = orphans.front();
    orphans.pop_front();
    dispatch(sequence);
  }
  deliver_ready();
}

// The worker to send count files to, waiting for one with room: standard
// input always goes to the first worker alive, so that it is read in the
// order named, by one reader. Null when no worker is left.
Worker* choose_worker(bool standard_input, std::size_t count) {
  for (;;) {
    Worker* best = nullptr;
    bool alive = false;
    for (Worker& w : workers) {
      if (w.sock < 0) {
        continue;
      }
      alive = true;
      const bool room = w.outstanding.size() + count <= kDepth;
      if (room && (best == nullptr || w.outstanding.size() < best->outstanding.size())) {
        best = &w;
      }
      if (standard_input) {
        best = room ? &w : nullptr;
        break;
      }
    }
    if (best != nullptr || !alive) {
      return best;
    }
    pump();
  }
}

// Sends the requests for the files of sequences in one message, their
// descriptors with it; false when the worker is gone. The send blocks:
// a worker's socket holds a few hundred kilobytes, more than kDepth
// requests take unless their names run to tens of kilobytes each, and
// past that a worker blocked on its answer would block the parent too.
bool send_requests(Worker& w, const std::vector<std::uint64_t>& sequences) {
  std::string bytes;
  std::array<int, kBatch> fds{};
  std::size_t fd_count = 0;
  for (const std::uint64_t sequence : sequences) {
    const Item& item = item_at(sequence);
    const RequestHeader header{item.name.size(), item.fd >= 0 ? 1U : 0U, 0};
    bytes.append(reinterpret_cast<const char*>(&header), sizeof header).append(item.name);
    if (item.fd >= 0) {
      fds[fd_count++] = item.fd;
    }
  }
  std::array<char, CMSG_SPACE(sizeof(int) * kBatch)> control{};
  iovec part{bytes.data(), bytes.size()};
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  if (fd_count != 0) {
    message.msg_control = control.data();
    message.msg_controllen = CMSG_SPACE(sizeof(int) * fd_count);
    cmsghdr* c = CMSG_FIRSTHDR(&message);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int) * fd_count);
    std::memcpy(CMSG_DATA(c), fds.data(), sizeof(int) * fd_count);
  }
  ssize_t sent = 0;
  do {
    sent = sendmsg(w.sock, &message, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0) {
    return false;
  }
  // The descriptors went with the first bytes; the rest of long names follows.
  const auto done = static_cast<std::size_t>(sent);
  return done == bytes.size() || send_all(w.sock, bytes.data() + done, bytes.size() - done);
}

// Checks a file in the parent, when no worker is left to.
void check_here(Item& item) {
  if (!open_captures()) {
    close_item_fd(item);
    item.kind = ItemKind::kTrouble;
    item.message = "Unable to check input file " + item.name + ": out of memory";
    return;
  }
  const int fd = item.fd;
  item.fd = -1;  // the check closes it
  item.counts = check_captured(item.name.c_str(), fd);
  item.out.swap(captured_out);
  item.err.swap(captured_err);
  item.kind = ItemKind::kChecked;
}

// Sends the files of sequences (at most kBatch) to one worker, or checks
// them here when no worker is left.
void dispatch_all(const std::vector<std::uint64_t>& sequences) {
  const bool standard_input = sequences.size() == 1 && item_at(sequences.front()).name == "-";
  for (;;) {
    if (stopped || sequences.empty()) {
      return;
    }
    Worker* w = choose_worker(standard_input, sequences.size());
    if (w == nullptr) {
      for (const std::uint64_t sequence : sequences) {
        check_here(item_at(sequence));
      }
      return;
    }
    if (send_requests(*w, sequences)) {
      w->outstanding.insert(w->outstanding.end(), sequences.begin(), sequences.end());
      return;
    }
    read_worker(*w);  // takes its last records, then finds it gone
    if (w->sock >= 0) {
      lose_worker(*w);
    }
  }
}

void dispatch(std::uint64_t sequence) { dispatch_all(std::vector<std::uint64_t>{sequence}); }

// Sends the files gathered for the next message.
void send_batch() {
  std::vector<std::uint64_t> sequences;
  sequences.swap(batch);
  dispatch_all(sequences);
}

// Waits until the queue has room for one more file.
void make_room() {
  if (queue.size() >= window) {
    send_batch();  // the files waited for may be among them
  }
  while (!stopped && queue.size() >= window) {
    pump();
    deliver_ready();
  }
}

// Ends the workers at once and forgets the files not yet written out.
void stop_workers() {
  for (Worker& w : workers) {
    if (w.sock >= 0) {
      (void)kill(w.pid, SIGKILL);
      close(w.sock);
      w.sock = -1;
      (void)wait_for(w.pid);
    }
  }
  for (Item& item : queue) {
    close_item_fd(item);
  }
  queue.clear();
  orphans.clear();
  batch.clear();
}

}  // namespace

int jobs_wanted(int asked) {
  if (asked == 0) {
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    asked = online > 0 ? static_cast<int>(std::min<long>(online, kMaxJobs)) : 1;
  }
  return std::max(asked, 1);
}

bool jobs_start(int count, const JobHooks* job_hooks) {
  hooks = job_hooks;
  workers.clear();
  queue.clear();
  orphans.clear();
  batch.clear();
  front_sequence = 0;
  stopped = false;
  const pid_t parent = getpid();
  (void)std::fflush(stdout);
  count = affordable_workers(count);
  for (int i = 0; i < count; ++i) {
    int ends[2] = {-1, -1};
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
      break;
    }
    const pid_t pid = fork();
    if (pid == 0) {
      close(ends[0]);
      become_worker(ends[1], parent);
      return false;
    }
    close(ends[1]);
    if (pid < 0) {
      close(ends[0]);
      break;
    }
    workers.push_back(Worker{pid, ends[0], {}, {}});
  }
  window = kWindowPerWorker * std::max<std::size_t>(workers.size(), 1);
  return true;
}

void jobs_add_file(const char* name, int fd) {
  make_room();
  if (stopped) {
    if (fd >= 0) {
      close(fd);
    }
    return;
  }
  queue.emplace_back();
  queue.back().name.assign(name);
  queue.back().fd = fd;
  const std::uint64_t sequence = front_sequence + queue.size() - 1;
  if (queue.back().name == "-") {
    send_batch();  // what comes before it goes first
    dispatch(sequence);
  } else {
    batch.push_back(sequence);
    if (batch.size() == kBatch) {
      send_batch();
    }
  }
  deliver_ready();
}

void jobs_add_trouble(const char* name, const char* message, bool is_file) {
  make_room();
  if (stopped) {
    return;
  }
  queue.emplace_back();
  Item& item = queue.back();
  item.kind = ItemKind::kTrouble;
  item.name.assign(name);
  item.message.assign(message);
  item.is_file = is_file;
  deliver_ready();
}

bool jobs_stopped() { return stopped; }

bool jobs_finish() {
  send_batch();
  while (!stopped && !queue.empty()) {
    const std::size_t before = queue.size();
    pump();
    deliver_ready();
    if (queue.size() == before && std::none_of(workers.begin(), workers.end(), [](const Worker& w) { return w.sock >= 0; })) {
      break;  // nothing left that could answer
    }
  }
  if (stopped) {
    stop_workers();
  }
  bool well = true;
  for (Worker& w : workers) {
    if (w.sock < 0) {
      continue;
    }
    close(w.sock);  // the worker's end of its requests
    w.sock = -1;
    const int status = wait_for(w.pid);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "A worker process %s\n", describe_end(status).c_str());
      well = false;
    }
  }
  workers.clear();
  close_captures();
  return well;
}
