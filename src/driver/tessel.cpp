// tessel: filters one HTML document (a named file or standard input) to
// standard output as a configuration file says.
//
// Start-up runs in order and each step only if every earlier one succeeded:
// command line, configuration search, Config, configuration file, hooks,
// scan. Shut-down runs on every path. The exit status is that of the last
// step that ran, so a failed cfg_read or scrub_html passes its own result on.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "config/config.h"
#include "estr/estr.h"
#include "policy/tscrub02.h"
#include "scanner/scrub.h"

namespace {

constexpr const char* kCfgName = "tessel.cfg";

std::FILE* pCfg = nullptr;
std::FILE* pIn = nullptr;
Config* config = nullptr;
// The configuration file's name as the user knows it, for the place of an
// error in it; the search keeps the name it built in found_name.
const char* cfg_name = nullptr;
Estr* found_name = nullptr;

// Opens the configuration file named by -f: the rest of the argument (-fNAME)
// or the next one. *index is moved past what was used.
int open_cfg_option(int argc, char* argv[], int* index) {
  if (pCfg != nullptr) {
    std::fputs("Option -f may occur only once\n", stderr);
    return 1;
  }
  const char* name = argv[*index] + 2;
  if (*name == '\0') {
    const int next = *index + 1;
    if (next >= argc || argv[next][0] == '\0' || argv[next][0] == '-') {
      std::fputs("No argument for -f option\n", stderr);
      return 1;
    }
    name = argv[next];
    *index = next;
  }
  pCfg = std::fopen(name, "r");
  if (pCfg == nullptr) {
    std::fprintf(stderr, "Unable to open configuration file %s\n", name);
    return 1;
  }
  cfg_name = name;
  return 0;
}

int open_input(int argc, char* argv[], int index) {
  const char* name = argv[index];
  if (pIn == stdin) {
    std::fprintf(stderr, "Extraneous argument(s) on command line: %s\n", name);
    return 1;
  }
  if (name[0] == '\0') {
    std::fputs("Name of specified input file is empty\n", stderr);
    return 1;
  }
  pIn = std::fopen(name, "r");
  if (pIn == nullptr) {
    std::fprintf(stderr, "Unable to open input file %s\n", name);
    return 1;
  }
  if (index + 1 < argc && argv[index + 1][0] != '\0') {
    std::fputs("Extra argument(s) on command line\n", stderr);
    return 1;
  }
  return 0;
}

// Options, then at most one input file name; sets pCfg (for -f) and pIn.
int get_args(int argc, char* argv[]) {
  pIn = nullptr;
  pCfg = nullptr;
  int index = 1;
  for (; index < argc && argv[index][0] == '-'; ++index) {
    const char* arg = argv[index];
    if (arg[1] == '\0') {
      pIn = stdin;
    } else if (arg[1] == 'f') {
      if (open_cfg_option(argc, argv, &index) != 0) {
        return 1;
      }
    } else {
      std::fprintf(stderr, "Unrecognized option %c on command line\n", arg[1]);
      return 1;
    }
  }
  if (index < argc && open_input(argc, argv, index) != 0) {
    return 1;
  }
  if (pIn == nullptr) {
    pIn = stdin;
  }
  return 0;
}

// Builds dir + "/" + kCfgName in name; 0 on success.
int build_cfg_name(Estr* name, const char* dir) {
  if (estr_assign_str(name, dir) != 0 || estr_append_c(name, '/') != 0 || estr_append_str(name, kCfgName) != 0) {
    return 1;
  }
  return 0;
}

// Opens the NUL-terminated name; a name that cannot be terminated counts as
// one that could not be built.
int open_built_name(Estr* name, const char* failure_message) {
  const char* path = estr_c_str(name);
  if (path == nullptr) {
    std::fputs(failure_message, stderr);
    return -1;
  }
  pCfg = std::fopen(path, "r");
  return pCfg != nullptr ? 0 : 1;
}

int search_home_and_etc(Estr* name) {
  const char* home = std::getenv("HOME");
  if (home != nullptr) {
    constexpr const char* kHomeFailure = "Unable to allocate name for configuration file";
    if (build_cfg_name(name, home) != 0) {
      std::fputs(kHomeFailure, stderr);
      return 1;
    }
    const int opened = open_built_name(name, kHomeFailure);
    if (opened <= 0) {
      return opened == 0 ? 0 : 1;
    }
  }
  constexpr const char* kEtcFailure = "Unable to allocate default name for configuration file\n";
  if (build_cfg_name(name, "/etc") != 0) {
    std::fputs(kEtcFailure, stderr);
    return 1;
  }
  const int opened = open_built_name(name, kEtcFailure);
  if (opened < 0) {
    return 1;
  }
  if (opened > 0) {
    std::fputs("Unable to open a configuration file\n", stderr);
    return 1;
  }
  return 0;
}

// Looks for the configuration file: $TESSEL_CFG alone if set, else
// ./tessel.cfg, $HOME/tessel.cfg, /etc/tessel.cfg.
int default_cfg() {
  const char* named = std::getenv("TESSEL_CFG");
  if (named != nullptr) {
    pCfg = std::fopen(named, "r");
    if (pCfg == nullptr) {
      std::fprintf(stderr, "Unable to open configuration file %s\n", named);
      return 1;
    }
    cfg_name = named;
    return 0;
  }
  pCfg = std::fopen(kCfgName, "r");
  if (pCfg != nullptr) {
    cfg_name = kCfgName;
    return 0;
  }
  Estr* name = estr_construct();
  if (estr_valid(name) == 0) {
    std::fputs("Unable to construct file name\n", stderr);
    return 1;
  }
  const int status = search_home_and_etc(name);
  if (status == 0) {
    cfg_name = estr_c_str(name);
    found_name = name;
  } else {
    estr_destruct(&name);
  }
  return status;
}

int read_configuration() {
  config = cfg_construct();
  if (cfg_valid(config) == 0) {
    std::fputs("Unable to construct configuration\n", stderr);
    return 1;
  }
  install_config(config);
  const int status = cfg_read_named(pCfg, cfg_name, config);
  if (status != 0) {
    std::fputs("Unable to interpret configuration file\n", stderr);
    cfg_report_place(stderr);
  }
  return status;
}

// The scan writes its last block of output before it returns, and a read
// error ends its input like the end of file, so a scan that succeeded is
// confirmed against both streams: a read error must not pass for the end of
// the input, nor a lost write for success.
int confirm_streams(int status) {
  const int read_errno = input_error();
  const bool write_failed = std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
  const int write_errno = errno;
  if (status != 0) {
    return status;
  }
  if (read_errno != 0) {
    errno = read_errno;
    std::perror("Unable to read HTML");
    return 1;
  }
  if (write_failed) {
    errno = write_errno;
    std::perror("Unable to write HTML");
    return 1;
  }
  return 0;
}

int filter() {
  install_tag_scrubber(scrub_tag);
  install_text_scrubber(scrub_text);
  install_comment_scrubber(scrub_comment);
  install_safe_scan(cfg_mode(config) == MODE_SAFE);
  const int status = scrub_html(pIn, stdout);
  return confirm_streams(status);
}

void shut_down() {
  cfg_release(&config);
  estr_destruct(&found_name);
  cfg_name = nullptr;
  if (pCfg != nullptr) {
    std::fclose(pCfg);
    pCfg = nullptr;
  }
  if (pIn != nullptr && pIn != stdin) {
    std::fclose(pIn);
  }
  pIn = nullptr;
}

// A standard stream closed when tessel starts must not lend its number to
// a file tessel opens (standard output would then write into the
// configuration file, say). Each is opened on /dev/null in the direction
// that fails, so that reading the input or writing the output still fails
// with a message and a status.
void hold_closed_standard_streams() {
  const struct {
    int descriptor;
    int flags;
  } streams[] = {{STDIN_FILENO, O_WRONLY}, {STDOUT_FILENO, O_RDONLY}, {STDERR_FILENO, O_RDONLY}};
  for (const auto& s : streams) {
    if (fcntl(s.descriptor, F_GETFD) < 0 && errno == EBADF) {
      const int opened = open("/dev/null", s.flags);
      if (opened >= 0 && opened != s.descriptor) {
        (void)dup2(opened, s.descriptor);
        (void)close(opened);
      }
    }
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  hold_closed_standard_streams();
  // Unbuffered, every warning is a write of its own, and a lint run over a
  // page full of flagged attributes spends more time in those writes than
  // in filtering. Where no one reads them as they come (standard error is
  // not a terminal), warnings are gathered like the output: they are
  // written out before each block of output and each read of input (see
  // iobuf.h), and at exit.
  constexpr std::size_t kWarningBufferSize = 1 << 13;
  static char warning_buffer[kWarningBufferSize];
  if (isatty(STDERR_FILENO) == 0) {
    std::setvbuf(stderr, warning_buffer, _IOFBF, sizeof warning_buffer);
  }
  int status = get_args(argc, argv);
  if (status == 0 && pCfg == nullptr) {
    status = default_cfg();
  }
  if (status == 0) {
    status = read_configuration();
  }
  if (status == 0) {
    status = filter();
  }
  shut_down();
  return status;
}
