// The -o output file, written through a temporary file and a rename.
//
// rename is atomic within one file system, which is why the temporary file
// is made in the output file's own directory: a reader of the output file
// sees the old document or the new one, never a part. A symbolic link is
// followed, so that the file it names is the one replaced.
#include "driver/outfile.h"

#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t kPathSize = PATH_MAX;
constexpr const char* kTempSuffix = ".XXXXXX";

char target_path[kPathSize];
// The temporary file's name; the signal handler removes it while
// temp_exists is set.
char temp_path[kPathSize];
volatile std::sig_atomic_t temp_exists = 0;

constexpr std::array<int, 5> kFatalSignals = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE};

extern "C" void remove_temp_and_die(int signal_number) {
  if (temp_exists != 0) {
    (void)unlink(temp_path);
  }
  (void)std::signal(signal_number, SIG_DFL);
  (void)std::raise(signal_number);
}

// Signals that would end the process remove the temporary file first; those
// ignored (nohup) stay ignored. A file size limit makes writes fail with
// EFBIG instead of ending the process, so it is reported like a full disk.
void catch_signals() {
  for (const int signal_number : kFatalSignals) {
    struct sigaction old_action {};
    if (sigaction(signal_number, nullptr, &old_action) == 0 && old_action.sa_handler == SIG_IGN) {
      continue;
    }
    struct sigaction action {};
    action.sa_handler = remove_temp_and_die;
    sigfillset(&action.sa_mask);  // no second signal inside the handler
    (void)sigaction(signal_number, &action, nullptr);
  }
  (void)std::signal(SIGXFSZ, SIG_IGN);
}

// Holds the signals that catch_signals handles, keeping the mask before.
void hold_signals(sigset_t* before) {
  sigset_t fatal;
  sigemptyset(&fatal);
  for (const int signal_number : kFatalSignals) {
    sigaddset(&fatal, signal_number);
  }
  (void)sigprocmask(SIG_BLOCK, &fatal, before);
}

// target_path becomes the file to replace: name, or the file its symbolic
// link names. 0, or 1 after a message.
int resolve_target(const char* name, struct stat* status, bool* exists) {
  *exists = stat(name, status) == 0;
  struct stat link_status {};
  const bool is_link = lstat(name, &link_status) == 0 && S_ISLNK(link_status.st_mode);
  if (is_link) {
    // A link that names nothing is refused rather than replaced by a file.
    if (realpath(name, target_path) == nullptr) {
      std::fprintf(stderr, "Unable to resolve output file %s: %s\n", name, std::strerror(errno));
      return 1;
    }
  } else if (std::strlen(name) >= kPathSize - std::strlen(kTempSuffix) - 1) {
    std::fprintf(stderr, "Output file name is too long: %s\n", name);
    return 1;
  } else {
    std::strcpy(target_path, name);
  }
  if (*exists && !S_ISREG(status->st_mode)) {
    // Replacing a directory, a device or a pipe is never what was meant.
    std::fprintf(stderr, "Output file %s is not a regular file\n", name);
    return 1;
  }
  return 0;
}

// temp_path becomes the mkstemp template beside target_path, hidden:
// DIR/.NAME.XXXXXX.
int make_template() {
  const char* slash = std::strrchr(target_path, '/');
  const std::size_t dir_length = slash == nullptr ? 0 : static_cast<std::size_t>(slash - target_path) + 1;
  const int written = std::snprintf(temp_path, sizeof temp_path, "%.*s.%s%s", static_cast<int>(dir_length),
                                    target_path, target_path + dir_length, kTempSuffix);
  if (written < 0 || static_cast<std::size_t>(written) >= sizeof temp_path) {
    std::fprintf(stderr, "Output file name is too long: %s\n", target_path);
    return 1;
  }
  return 0;
}

mode_t new_file_mode() {
  const mode_t mask = umask(0);
  (void)umask(mask);
  return 0666 & ~mask;
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
}

}  // namespace

std::FILE* open_output_file(const char* name) {
  struct stat status {};
  bool exists = false;
  if (resolve_target(name, &status, &exists) != 0 || make_template() != 0) {
    return nullptr;
  }
  catch_signals();
  // mkstemp writes the name as it makes the file: the signals are held
  // until both are done, so that the handler removes the file made, and
  // never a name half written.
  sigset_t before;
  hold_signals(&before);
  const int fd = mkstemp(temp_path);
  const int mkstemp_errno = errno;
  temp_exists = fd >= 0 ? 1 : 0;
  (void)sigprocmask(SIG_SETMASK, &before, nullptr);
  if (fd < 0) {
    std::fprintf(stderr, "Unable to create a temporary file beside %s: %s\n", name, std::strerror(mkstemp_errno));
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
  if (std::fclose(out) != 0) {
    std::perror("Unable to write HTML");
    remove_temp();
    return 1;
  }
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
  return 0;
}

void discard_output_file(std::FILE* out) {
  (void)std::fclose(out);
  remove_temp();
}
