// The -o output file, written through a temporary file and a rename.
//
// rename is atomic within one file system, which is why the temporary file
// is made in the output file's own directory: a reader of the output file
// sees the old document or the new one, never a part. A symbolic link is
// followed, so that the file it names is the one replaced.
//
// Where the system allows it the temporary file is made without a name
// (O_TMPFILE): a process killed in any way while it writes, SIGKILL
// included, leaves nothing behind, since the kernel frees a file that no
// name holds. The file is given a name only at the end, just before the
// rename; for that short window, and for the whole run where the file
// must be made with a name (mkstemp), every signal that would end the
// process removes the name first.
//
// A file that is one of the process's own standard streams is never
// replaced: the replacement would be a new file, and the stream would go
// on writing to the old one, unseen.
#include "driver/outfile.h"

#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t kPathSize = PATH_MAX;
// The temporary file's name is fixed rather than made from the output
// file's, so that it fits beside any name the directory can hold.
constexpr const char* kTempName = ".tessel.XXXXXX";
constexpr std::size_t kRandomLength = 6;
// linkat does not replace an existing name, so a name already taken is
// drawn again; names are random enough that this many never all collide.
constexpr int kNameAttempts = 100;

// How the stream that open_output_file gave is finished.
enum OutputKind { kStandardOutput, kUnnamedTemp, kNamedTemp };

OutputKind output_kind = kNamedTemp;
char target_path[kPathSize];
// The temporary file's name, DIR/.tessel.XXXXXX, and where the file name
// begins in it; the signal handler removes it while temp_exists is set.
char temp_path[kPathSize];
std::size_t temp_name_offset = 0;
volatile std::sig_atomic_t temp_exists = 0;
std::uint64_t name_seed = 0;

// Every signal whose default action ends the process, but SIGXFSZ, which
// is ignored (a file size limit then fails the write instead), and
// SIGKILL, which cannot be caught; real-time signals are added at run time.
constexpr std::array kEndingSignals = {
    SIGHUP,  SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS,    SIGFPE,  SIGUSR1, SIGSEGV, SIGUSR2,
    SIGPIPE, SIGALRM, SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF, SIGIO, SIGSYS,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};

// The action each signal had before catch_signals, which the handler
// passes the signal on to, and whether the signal is caught now.
std::array<struct sigaction, NSIG> previous_actions{};
std::array<bool, NSIG> caught{};
bool signals_caught = false;

template <typename Visit>
void for_each_ending_signal(Visit visit) {
  for (const int signal_number : kEndingSignals) {
    visit(signal_number);
  }
#ifdef SIGRTMIN
  for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number) {
    visit(signal_number);
  }
#endif
}

// The handler that was there before (the diagnostics writer's, which
// writes out buffered warnings) still runs, after the name is gone; the
// default action is taken by raising the signal again, which stays held
// until this handler returns.
extern "C" void remove_temp_and_pass_on(int signal_number, siginfo_t* info, void* context) {
  if (temp_exists != 0) {
    temp_exists = 0;
    (void)unlink(temp_path);
  }
  const struct sigaction& before = previous_actions[static_cast<std::size_t>(signal_number)];
  if (before.sa_handler == SIG_DFL) {
    (void)std::signal(signal_number, SIG_DFL);
    (void)std::raise(signal_number);
  } else if ((before.sa_flags & SA_SIGINFO) != 0) {
    before.sa_sigaction(signal_number, info, context);
  } else {
    before.sa_handler(signal_number);
  }
}

// Signals that would end the process remove the temporary file first; those
// ignored (nohup) stay ignored.
void catch_signals() {
  if (signals_caught) {
    return;
  }
  signals_caught = true;
  for_each_ending_signal([](int signal_number) {
    const auto index = static_cast<std::size_t>(signal_number);
    struct sigaction before {};
    if (sigaction(signal_number, nullptr, &before) != 0 || before.sa_handler == SIG_IGN) {
      return;
    }
    previous_actions[index] = before;
    struct sigaction action {};
    action.sa_sigaction = remove_temp_and_pass_on;
    action.sa_flags = SA_SIGINFO | (before.sa_flags & (SA_RESTART | SA_ONSTACK));
    sigfillset(&action.sa_mask);  // no second signal inside the handler
    caught[index] = sigaction(signal_number, &action, nullptr) == 0;
  });
}

// Gives back the actions catch_signals replaced, once there is no name to
// remove; an action installed since then is left in place.
void release_signals() {
  if (!signals_caught) {
    return;
  }
  signals_caught = false;
  for_each_ending_signal([](int signal_number) {
    const auto index = static_cast<std::size_t>(signal_number);
    struct sigaction now {};
    if (caught[index] && sigaction(signal_number, nullptr, &now) == 0 &&
        (now.sa_flags & SA_SIGINFO) != 0 && now.sa_sigaction == remove_temp_and_pass_on) {
      (void)sigaction(signal_number, &previous_actions[index], nullptr);
    }
    caught[index] = false;
  });
}

// Holds all signals, keeping the mask before.
void hold_signals(sigset_t* before) {
  sigset_t all;
  sigfillset(&all);
  (void)sigprocmask(SIG_BLOCK, &all, before);
}

bool is_same_file(const struct stat& status, int fd) {
  struct stat stream_status {};
  return fstat(fd, &stream_status) == 0 && stream_status.st_dev == status.st_dev &&
         stream_status.st_ino == status.st_ino;
}

// target_path becomes the file to replace: name, or the file its symbolic
// link names; status is stat of name, if it exists. 0, or 1 after a message.
int resolve_target(const char* name, const struct stat& status, bool exists) {
  struct stat link_status {};
  const bool is_link = lstat(name, &link_status) == 0 && S_ISLNK(link_status.st_mode);
  if (is_link) {
    // A link that names nothing is refused rather than replaced by a file.
    if (realpath(name, target_path) == nullptr) {
      std::fprintf(stderr, "Unable to resolve output file %s: %s\n", name, std::strerror(errno));
      return 1;
    }
  } else if (std::strlen(name) >= kPathSize) {
    std::fprintf(stderr, "Output file name is too long: %s\n", name);
    return 1;
  } else {
    std::strcpy(target_path, name);
  }
  if (exists && !S_ISREG(status.st_mode)) {
    // Replacing a directory, a device or a pipe is never what was meant.
    std::fprintf(stderr, "Output file %s is not a regular file\n", name);
    return 1;
  }
  return 0;
}

// The length of target_path's directory part, its final slash included.
std::size_t target_directory_length() {
  const char* slash = std::strrchr(target_path, '/');
  return slash == nullptr ? 0 : static_cast<std::size_t>(slash - target_path) + 1;
}

// temp_path becomes the template beside target_path: DIR/.tessel.XXXXXX.
int make_template() {
  const std::size_t dir_length = target_directory_length();
  const int written = std::snprintf(temp_path, sizeof temp_path, "%.*s%s", static_cast<int>(dir_length),
                                    target_path, kTempName);
  if (written < 0 || static_cast<std::size_t>(written) >= sizeof temp_path) {
    std::fprintf(stderr, "Output file name is too long: %s\n", target_path);
    return 1;
  }
  temp_name_offset = dir_length;
  return 0;
}

// The directory of target_path, "." when the name has none.
void copy_target_directory(char* directory) {
  const std::size_t dir_length = target_directory_length();
  if (dir_length == 0) {
    std::strcpy(directory, ".");
  } else {
    std::memcpy(directory, target_path, dir_length);
    directory[dir_length] = '\0';
  }
}

mode_t new_file_mode() {
  const mode_t mask = umask(0);
  (void)umask(mask);
  return 0666 & ~mask;
}

// A file with no name in target_path's directory: its descriptor, or -1
// with errno set (EOPNOTSUPP, EISDIR or EINVAL where the system or the file
// system cannot make one).
int open_unnamed_temp() {
#ifdef O_TMPFILE
  char directory[kPathSize];
  copy_target_directory(directory);
  return open(directory, O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
#else
  errno = EOPNOTSUPP;
  return -1;
#endif
}

bool is_unsupported(int error) {
  return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

// mkstemp writes the name as it makes the file: the signals are held until
// both are done, so that the handler removes the file made, and never a
// name half written. The descriptor, or -1 with errno set.
int open_named_temp() {
  catch_signals();
  sigset_t before;
  hold_signals(&before);
  const int fd = mkstemp(temp_path);
  const int mkstemp_errno = errno;
  temp_exists = fd >= 0 ? 1 : 0;
  (void)sigprocmask(SIG_SETMASK, &before, nullptr);
  if (fd < 0) {
    release_signals();
  }
  errno = mkstemp_errno;
  return fd;
}

// The name is forgotten before it is removed, with the signals held, so
// that a handler never removes it again once another file may have it.
void remove_temp() {
  sigset_t before;
  hold_signals(&before);
  const bool existed = temp_exists != 0;
  temp_exists = 0;
  (void)sigprocmask(SIG_SETMASK, &before, nullptr);
  if (existed) {
    (void)unlink(temp_path);
  }
  release_signals();
}

// The random part of the temporary name; it need not be hard to guess,
// since linkat never follows or replaces a name that someone else made.
void draw_temp_name() {
  static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  constexpr std::uint64_t kLetterCount = sizeof kLetters - 1;
  struct timespec now {};
  (void)clock_gettime(CLOCK_REALTIME, &now);
  name_seed += static_cast<std::uint64_t>(now.tv_nsec) ^ (static_cast<std::uint64_t>(getpid()) << 32) ^
               static_cast<std::uint64_t>(now.tv_sec) ^ 0x9E3779B97F4A7C15u;
  std::uint64_t bits = name_seed * 0xBF58476D1CE4E5B9u;
  char* random_part = temp_path + temp_name_offset + std::strlen(kTempName) - kRandomLength;
  for (std::size_t i = 0; i < kRandomLength; ++i) {
    random_part[i] = kLetters[bits % kLetterCount];
    bits /= kLetterCount;
  }
}

// Gives the unnamed file fd a temporary name beside target_path. Linking
// through /proc needs no privilege; AT_EMPTY_PATH does without /proc where
// the process may use it. 0, or -1 with errno set.
int link_temp(int fd) {
  char fd_path[32];
  (void)std::snprintf(fd_path, sizeof fd_path, "/proc/self/fd/%d", fd);
  int linked = linkat(AT_FDCWD, fd_path, AT_FDCWD, temp_path, AT_SYMLINK_FOLLOW);
  if (linked != 0 && errno == ENOENT) {
    linked = linkat(fd, "", AT_FDCWD, temp_path, AT_EMPTY_PATH);
  }
  return linked;
}

// The window in which the file has a name starts here: the signals are
// caught first. 0, or 1 with errno set.
int name_unnamed_temp(int fd) {
  catch_signals();
  int link_errno = EEXIST;
  for (int attempt = 0; attempt < kNameAttempts && link_errno == EEXIST; ++attempt) {
    draw_temp_name();
    sigset_t before;
    hold_signals(&before);
    const int linked = link_temp(fd);
    link_errno = errno;
    temp_exists = linked == 0 ? 1 : 0;
    (void)sigprocmask(SIG_SETMASK, &before, nullptr);
    if (linked == 0) {
      return 0;
    }
  }
  release_signals();
  errno = link_errno;
  return 1;
}

// Once the rename is done the new file is what readers see; syncing the
// directory only makes the new name last a crash sooner, so a failure of
// it changes nothing for the run.
void sync_target_directory() {
  char directory[kPathSize];
  copy_target_directory(directory);
  const int fd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    (void)fsync(fd);
    (void)close(fd);
  }
}

// The document reaches the disk before it takes the output file's name,
// so that a crash cannot leave the name on an empty or partial file.
int write_out(std::FILE* out) {
  return std::fflush(out) != 0 || fsync(fileno(out)) != 0 ? 1 : 0;
}

int rename_temp() {
  sigset_t before;
  hold_signals(&before);  // the name must not be removed once it is the output's
  const int renamed = rename(temp_path, target_path);
  const int rename_errno = errno;
  temp_exists = renamed == 0 ? 0 : temp_exists;
  (void)sigprocmask(SIG_SETMASK, &before, nullptr);
  if (renamed != 0) {
    std::fprintf(stderr, "Unable to replace output file %s: %s\n", target_path, std::strerror(rename_errno));
    remove_temp();
    return 1;
  }
  release_signals();
  sync_target_directory();
  return 0;
}

}  // namespace

std::FILE* open_output_file(const char* name) {
  struct stat status {};
  const bool exists = stat(name, &status) == 0;
  if (exists && is_same_file(status, STDOUT_FILENO)) {
    output_kind = kStandardOutput;
    return stdout;
  }
  if (exists && is_same_file(status, STDERR_FILENO)) {
    std::fprintf(stderr, "Output file %s is standard error\n", name);
    return nullptr;
  }
  if (resolve_target(name, status, exists) != 0 || make_template() != 0) {
    return nullptr;
  }
  (void)std::signal(SIGXFSZ, SIG_IGN);
  output_kind = kUnnamedTemp;
  int fd = open_unnamed_temp();
  if (fd < 0 && is_unsupported(errno)) {
    output_kind = kNamedTemp;
    fd = open_named_temp();
  }
  if (fd < 0) {
    std::fprintf(stderr, "Unable to create a temporary file beside %s: %s\n", name, std::strerror(errno));
    return nullptr;
  }
  // The file keeps its permissions; set-user-ID and set-group-ID bits are
  // not carried to a file that another user may now own, as cp does.
  const mode_t mode = exists ? (status.st_mode & 0777) : new_file_mode();
  std::FILE* out = fchmod(fd, mode) == 0 ? fdopen(fd, "w") : nullptr;
  if (out == nullptr) {
    std::fprintf(stderr, "Unable to create a temporary file beside %s: %s\n", name, std::strerror(errno));
    (void)close(fd);
    remove_temp();
    return nullptr;
  }
  return out;
}

int commit_output_file(std::FILE* out) {
  if (output_kind == kStandardOutput) {
    if (std::fflush(out) != 0) {
      std::perror("Unable to write HTML");
      return 1;
    }
    return 0;
  }
  if (write_out(out) != 0) {
    std::perror("Unable to write HTML");
    discard_output_file(out);
    return 1;
  }
  if (output_kind == kUnnamedTemp && name_unnamed_temp(fileno(out)) != 0) {
    std::fprintf(stderr, "Unable to create a temporary file beside %s: %s\n", target_path, std::strerror(errno));
    (void)std::fclose(out);
    return 1;
  }
  if (std::fclose(out) != 0) {
    std::perror("Unable to write HTML");
    remove_temp();
    return 1;
  }
  return rename_temp();
}

void discard_output_file(std::FILE* out) {
  if (output_kind == kStandardOutput) {
    (void)std::fflush(out);
    return;
  }
  (void)std::fclose(out);
  remove_temp();
}
