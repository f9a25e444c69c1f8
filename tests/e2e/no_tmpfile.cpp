// Loaded with LD_PRELOAD, makes open refuse O_TMPFILE as a file system
// without it does, so that a process test reaches -o's other way of making
// its temporary file: with a name, which signals must remove. It also
// installs a handler for SIGUSR2 before tessel opens anything, standing
// for a handler of tessel's own that -o must pass the signal on to.
#undef _FORTIFY_SOURCE  // its inline open would clash with the one below
#include <cerrno>
#include <csignal>
#include <cstdarg>

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

using OpenFunction = int (*)(const char*, int, ...);

bool handler_installed = false;

// Says that it ran, then ends the process by the signal.
extern "C" void announce_and_die(int signal_number) {
  constexpr char kText[] = "SIGUSR2 handler ran\n";
  (void)write(STDERR_FILENO, kText, sizeof kText - 1);
  (void)std::signal(signal_number, SIG_DFL);
  (void)std::raise(signal_number);
}

int refuse_tmpfile(const char* symbol, const char* path, int flags, int mode) {
  if (!handler_installed) {
    handler_installed = true;
    (void)std::signal(SIGUSR2, announce_and_die);
  }
  if ((flags & O_TMPFILE) == O_TMPFILE) {
    errno = EOPNOTSUPP;
    return -1;
  }
  const auto next_open = reinterpret_cast<OpenFunction>(dlsym(RTLD_NEXT, symbol));
  return next_open(path, flags, mode);
}

}  // namespace

extern "C" int open(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const int mode = va_arg(arguments, int);
  va_end(arguments);
  return refuse_tmpfile("open", path, flags, mode);
}

extern "C" int open64(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const int mode = va_arg(arguments, int);
  va_end(arguments);
  return refuse_tmpfile("open64", path, flags, mode);
}
