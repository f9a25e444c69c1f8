// tessel: filters one HTML document (a named file or standard input) to
// standard output as a configuration file says; in check mode, filters
// many files and reports only what it found in them.
//
// Start-up runs in order and each step only if every earlier one succeeded:
// command line, configuration search, Config, configuration file, hooks,
// scan. Shut-down runs on every path. The exit status is that of the last
// step that ran, so a failed cfg_read or scrub_html passes its own result on.
// -h and -V end the run after the command line; in check mode every failure
// before the files are checked gives status 2, as a file that cannot be read.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "config/config.h"
#include "driver/batch.h"
#include "driver/check.h"
#include "driver/document.h"
#include "driver/jobs.h"
#include "driver/json.h"
#include "driver/outfile.h"
#include "driver/walk.h"
#include "estr/estr.h"
#include "policy/findings.h"
#include "policy/tscrub02.h"
#include "scanner/lines.h"

namespace {

constexpr const char* kCfgName = "tessel.cfg";

std::FILE* pCfg = nullptr;
std::FILE* pIn = nullptr;
Config* config = nullptr;
// The configuration file's name as the user knows it, for the place of an
// error in it; the search keeps the name it built in found_name.
const char* cfg_name = nullptr;
Estr* found_name = nullptr;

// What the command line asks for besides the configuration and the input.
struct Options {
  bool check = false;    // -c: findings of many files, no document
  bool quiet = false;    // -q: no summary in check mode
  bool report = false;   // -r: every removal reported
  bool json = false;     // --json: findings as JSON lines
  bool batch = false;    // --batch: documents as JSON lines
  const char* format = nullptr;  // --format: its argument
  FindingFormat finding_format = FindingFormat::kGnu;
  bool answered = false;  // -h or -V answered: nothing else to do
  const char* output = nullptr;  // -o: the output file
  const char* suffixes = nullptr;  // --ext: of the files found in directories
  int jobs = 1;  // -j: check mode's worker processes
  bool jobs_given = false;
  const char* input_name = nullptr;  // the input file, when one is named
  char** files = nullptr;  // check mode: the files named
  int file_count = 0;
};
Options options;

constexpr const char* kUsage =
    "Usage: tessel [OPTION]... [FILE]\n"
    "       tessel -c [OPTION]... [FILE]...\n"
    "       tessel --batch [OPTION]... [FILE]\n"
    "Filters the HTML document FILE (standard input when absent or -) to standard\n"
    "output as the configuration says; warnings go to standard error.\n"
    "  -f CFG         read the configuration from CFG\n"
    "  -o FILE        write the document to FILE, replaced only when all went well\n"
    "  -r, --report   report every tag, attribute, comment and region removed\n"
    "  -c, --check    check each FILE: findings as FILE:LINE: message, no document\n"
    "  -q, --quiet    in check mode, no summary line\n"
    "  -j, --jobs N   in check mode, check files in N processes at once (0: one\n"
    "                 per processor); the output is the same as with one\n"
    "      --ext LIST in check mode, the suffixes of the files found in a\n"
    "                 directory (default html,htm)\n"
    "      --format=FORMAT\n"
    "                 findings as gnu (FILE:LINE: message, the default), json,\n"
    "                 sarif (one SARIF log, check mode) or github (check mode)\n"
    "      --json     findings as JSON lines, as --format=json\n"
    "      --batch    documents as JSON lines: each line {\"id\": ID, \"html\": \"...\"}\n"
    "                 is answered by {\"id\": ID, \"html\": \"...\", \"findings\": [...]}\n"
    "  -h, --help     show this help and exit\n"
    "  -V, --version  show the version and exit\n"
    "  --             end of options: the next argument is a file\n"
    "Without -f the configuration is $TESSEL_CFG, else the first tessel.cfg\n"
    "found in the current directory, $HOME and /etc.\n"
    "Check mode exits with 0 when nothing was found, 1 when something was, and\n"
    "2 when a file or the configuration could not be read.\n";

// -h and -V write on standard output and end the run: 0, or 1 when the
// text could not be written.
int answer(const char* text) {
  options.answered = true;
  std::fputs(text, stdout);
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    std::perror("Unable to write to standard output");
    return 1;
  }
  return 0;
}

// The argument of an option letter: the rest of the same argument (-fNAME)
// or the next one, which must exist, be non-empty and not begin with a
// dash. *index is moved past what was used; null after the message.
const char* option_argument(char letter, const char* rest, int argc, char* argv[], int* index) {
  if (*rest != '\0') {
    return rest;
  }
  const int next = *index + 1;
  if (next >= argc || argv[next][0] == '\0' || argv[next][0] == '-') {
    std::fprintf(stderr, "No argument for -%c option\n", letter);
    return nullptr;
  }
  *index = next;
  return argv[next];
}

// The second line of a failure to open: the name and the system's reason.
void report_open_failure(const char* what, const char* name, int reason) {
  std::fprintf(stderr, "Unable to open %s %s\n", what, name);
  std::fprintf(stderr, "%s: %s\n", name, std::strerror(reason));
}

// Opens the configuration file named by -f.
int open_cfg_option(const char* rest, int argc, char* argv[], int* index) {
  if (pCfg != nullptr) {
    std::fputs("Option -f may occur only once\n", stderr);
    return 1;
  }
  const char* name = option_argument('f', rest, argc, argv, index);
  if (name == nullptr) {
    return 1;
  }
  pCfg = std::fopen(name, "r");
  if (pCfg == nullptr) {
    report_open_failure("configuration file", name, errno);
    return 1;
  }
  cfg_name = name;
  return 0;
}

int output_option(const char* rest, int argc, char* argv[], int* index) {
  if (options.output != nullptr) {
    std::fputs("Option -o may occur only once\n", stderr);
    return 1;
  }
  options.output = option_argument('o', rest, argc, argv, index);
  return options.output != nullptr ? 0 : 1;
}

// The number of check mode's processes, from -j N, -jN, --jobs=N or
// --jobs N: 0 (one per processor) to kMaxJobs.
int jobs_value(const char* value) {
  if (options.jobs_given) {
    std::fputs("Option -j may occur only once\n", stderr);
    return 1;
  }
  options.jobs_given = true;
  long jobs = 0;
  for (const char* p = value; *p >= '0' && *p <= '9' && jobs <= kMaxJobs; ++p) {
    jobs = jobs * 10 + (*p - '0');
  }
  const bool digits = *value != '\0' && std::strspn(value, "0123456789") == std::strlen(value);
  if (!digits || jobs > kMaxJobs) {
    std::fprintf(stderr, "Option -j takes a number of processes from 0 to %d\n", kMaxJobs);
    return 1;
  }
  options.jobs = static_cast<int>(jobs);
  return 0;
}

int jobs_option(const char* rest, int argc, char* argv[], int* index) {
  const char* value = option_argument('j', rest, argc, argv, index);
  return value != nullptr ? jobs_value(value) : 1;
}

// A letter that takes no argument: 0, 1 after a message, or 0 with
// options.answered set.
int flag_option(char letter) {
  switch (letter) {
    case 'c': options.check = true; return 0;
    case 'q': options.quiet = true; return 0;
    case 'r': options.report = true; return 0;
    case 'h': return answer(kUsage);
    case 'V': return answer("tessel " TESSEL_VERSION "\n");
    default: break;
  }
  std::fprintf(stderr, "Unrecognized option %c on command line\n", letter);
  return 1;
}

// One argument of short options, which may be joined (-cr); -f and -o take
// the rest of it as their argument when there is one.
int short_options(int argc, char* argv[], int* index) {
  for (const char* p = argv[*index] + 1; *p != '\0' && !options.answered; ++p) {
    if (*p == 'f' || *p == 'o') {
      return *p == 'f' ? open_cfg_option(p + 1, argc, argv, index) : output_option(p + 1, argc, argv, index);
    }
    if (*p == 'j') {
      return jobs_option(p + 1, argc, argv, index);
    }
    if (flag_option(*p) != 0) {
      return 1;
    }
  }
  return 0;
}

// --format=FORMAT or --format FORMAT; the name is looked up once every
// option is read (choose_format).
int format_option(const char* name, int argc, char* argv[], int* index) {
  const char* value = nullptr;
  if (name[6] == '=') {
    value = name + 7;
  } else if (*index + 1 < argc) {
    *index += 1;
    value = argv[*index];
  } else {
    std::fputs("No argument for --format option\n", stderr);
    return 1;
  }
  if (options.format != nullptr) {
    std::fputs("Option --format may occur only once\n", stderr);
    return 1;
  }
  options.format = value;
  return 0;
}

// The format of findings, from --format and --json, which must agree;
// sarif and github are logs of many files, for check mode only.
int choose_format() {
  if (options.format == nullptr) {
    options.finding_format = options.json ? FindingFormat::kJson : FindingFormat::kGnu;
    return 0;
  }
  if (!parse_finding_format(options.format, &options.finding_format)) {
    std::fprintf(stderr, "Unknown format %s\n", options.format);
    return 1;
  }
  if (options.json && options.finding_format != FindingFormat::kJson) {
    std::fprintf(stderr, "Options --json and --format=%s cannot be used together\n", options.format);
    return 1;
  }
  options.json = options.finding_format == FindingFormat::kJson;
  const bool for_many = options.finding_format == FindingFormat::kSarif ||
                        options.finding_format == FindingFormat::kGithub;
  if (for_many && !options.check) {
    std::fprintf(stderr, "Format %s is only for check mode\n", options.format);
    return 1;
  }
  return 0;
}

// --NAME; an unknown one is reported as the letter '-', as it always was.
int long_option(const char* name, int argc, char* argv[], int* index) {
  constexpr struct {
    const char* name;
    char letter;
  } kLong[] = {{"help", 'h'}, {"version", 'V'}, {"check", 'c'}, {"quiet", 'q'}, {"report", 'r'}};
  for (const auto& option : kLong) {
    if (std::strcmp(name, option.name) == 0) {
      return flag_option(option.letter);
    }
  }
  if (std::strcmp(name, "json") == 0) {
    options.json = true;
    return 0;
  }
  if (std::strcmp(name, "batch") == 0) {
    options.batch = true;
    return 0;
  }
  if (std::strncmp(name, "format", 6) == 0 && (name[6] == '\0' || name[6] == '=')) {
    return format_option(name, argc, argv, index);
  }
  if (std::strncmp(name, "jobs", 4) == 0 && (name[4] == '\0' || name[4] == '=')) {
    if (name[4] == '=') {
      return jobs_value(name + 5);
    }
    if (*index + 1 >= argc) {
      std::fputs("No argument for --jobs option\n", stderr);
      return 1;
    }
    return jobs_value(argv[++*index]);
  }
  return flag_option('-');
}

// --ext LIST or --ext=LIST: the suffixes of the files that check mode
// takes from the directories it walks.
int ext_option(const char* arg, int argc, char* argv[], int* index) {
  if (options.suffixes != nullptr) {
    std::fputs("Option --ext may occur only once\n", stderr);
    return 1;
  }
  const char* list = arg[5] == '=' ? arg + 6 : nullptr;
  // As for -f and -o, an argument that begins with a dash is an option.
  if (list == nullptr && *index + 1 < argc && argv[*index + 1][0] != '-') {
    list = argv[++*index];
  }
  if (list == nullptr || !walk_suffixes_valid(list)) {
    std::fputs("Option --ext takes a list of suffixes without dots, separated by commas, such as html,htm\n", stderr);
    return 1;
  }
  options.suffixes = list;
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
  if (std::strcmp(name, "-") == 0) {
    pIn = stdin;  // after "--"
  } else {
    pIn = std::fopen(name, "r");
    options.input_name = name;
  }
  if (pIn == nullptr) {
    report_open_failure("input file", name, errno);
    return 1;
  }
  if (index + 1 < argc && argv[index + 1][0] != '\0') {
    std::fputs("Extra argument(s) on command line\n", stderr);
    return 1;
  }
  return 0;
}

// Check mode takes every argument left as a file to check; a lone dash
// given before -c stands for standard input, alone.
int take_files(int argc, char* argv[], int index) {
  if (options.output != nullptr) {
    std::fputs("Options -c and -o cannot be used together\n", stderr);
    return 1;
  }
  if (pIn == stdin && index < argc) {
    std::fprintf(stderr, "Extraneous argument(s) on command line: %s\n", argv[index]);
    return 1;
  }
  options.files = argv + index;
  options.file_count = argc - index;
  return 0;
}

// Options, then the input file name (or in check mode the names of the
// files to check); sets pCfg (for -f), pIn and options. Options come
// before the file names; "--" ends them.
int get_args(int argc, char* argv[]) {
  pIn = nullptr;
  pCfg = nullptr;
  int index = 1;
  for (; index < argc && argv[index][0] == '-' && !options.answered; ++index) {
    const char* arg = argv[index];
    int status = 0;
    if (arg[1] == '\0') {
      if (options.check) {
        break;  // the first file to check
      }
      pIn = stdin;
    } else if (std::strcmp(arg, "--") == 0) {
      ++index;
      break;
    } else if (std::strncmp(arg, "--ext", 5) == 0 && (arg[5] == '\0' || arg[5] == '=')) {
      status = ext_option(arg, argc, argv, &index);
    } else if (arg[1] == '-') {
      status = long_option(arg + 2, argc, argv, &index);
    } else {
      status = short_options(argc, argv, &index);
    }
    if (status != 0) {
      return 1;
    }
  }
  if (options.answered) {
    return 0;
  }
  if (choose_format() != 0) {
    return 1;
  }
  if (options.check && options.batch) {
    std::fputs("Options --batch and -c cannot be used together\n", stderr);
    return 1;
  }
  if (options.batch && options.output != nullptr) {
    std::fputs("Options --batch and -o cannot be used together\n", stderr);
    return 1;
  }
  if (options.check) {
    return take_files(argc, argv, index);
  }
  if (options.quiet) {
    std::fputs("-q is only for check mode\n", stderr);
    return 1;
  }
  if (options.suffixes != nullptr) {
    std::fputs("--ext is only for check mode\n", stderr);
    return 1;
  }
  if (options.jobs_given) {
    std::fputs("-j is only for check mode\n", stderr);
    return 1;
  }
  if (index < argc && open_input(argc, argv, index) != 0) {
    return 1;
  }
  if (pIn == nullptr) {
    pIn = stdin;
  }
  return 0;
}

// Whether the command line asks for check mode or batch mode, read ahead
// of get_args so that trouble found before -c or --batch is seen (a
// missing -f file, an unknown option) still gives their status. It follows get_args: options
// end at "--", a lone "-" or the first name, and -f and -o take the rest
// of their argument or the next one.
bool asks_for_check(int argc, char* argv[]) {
  for (int index = 1; index < argc; ++index) {
    const char* arg = argv[index];
    if (arg[0] != '-' || arg[1] == '\0' || std::strcmp(arg, "--") == 0) {
      return false;
    }
    if (arg[1] == '-') {
      if (std::strcmp(arg, "--check") == 0 || std::strcmp(arg, "--batch") == 0) {
        return true;
      }
      const bool takes_next = std::strcmp(arg, "--ext") == 0 && index + 1 < argc && argv[index + 1][0] != '-';
      index += takes_next ? 1 : 0;
      index += std::strcmp(arg, "--format") == 0 || std::strcmp(arg, "--jobs") == 0 ? 1 : 0;
      continue;
    }
    for (const char* p = arg + 1; *p != '\0'; ++p) {
      if (*p == 'c') {
        return true;
      }
      if (*p == 'f' || *p == 'o' || *p == 'j') {
        const bool takes_next = p[1] == '\0' && index + 1 < argc && argv[index + 1][0] != '\0' &&
                                argv[index + 1][0] != '-';
        index += takes_next ? 1 : 0;
        break;
      }
    }
  }
  return false;
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
      report_open_failure("configuration file", named, errno);
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
  const int status = cfg_read_named(pCfg, cfg_name, config);
  if (status != 0) {
    std::fputs("Unable to interpret configuration file\n", stderr);
    cfg_report_place(stderr);
    return status;
  }
  install_config(config);  // as read: the hooks take its mode once
  return 0;
}

// Findings of the usual mode as JSON lines on standard error.
void write_json_to_stderr(const Finding& finding) {
  write_json_finding(options.input_name != nullptr ? options.input_name : kStdinName, finding, stderr);
}

// Whether standard error is a line stream (lines.h), as main makes it, and
// the stream it was before.
bool stderr_in_lines = false;
std::FILE* original_stderr = nullptr;

// Writes out everything written to standard error so far: 0, or EOF when
// a write of it failed, now or before.
int drain_stderr() { return stderr_in_lines ? lines_drain(stderr) : std::fflush(stderr); }

// Reading the file that standard output appends to would read the output
// back without end (cat refuses it too).
int refuse_input_as_output() {
  struct stat in_status {};
  struct stat out_status {};
  if (fstat(fileno(pIn), &in_status) != 0 || fstat(STDOUT_FILENO, &out_status) != 0) {
    return 0;
  }
  if (S_ISREG(in_status.st_mode) && in_status.st_dev == out_status.st_dev && in_status.st_ino == out_status.st_ino) {
    std::fprintf(stderr, "Input file %s is the output file\n",
                 options.input_name != nullptr ? options.input_name : kStdinName);
    return 1;
  }
  return 0;
}

// The usual mode: one document to standard output, or through a temporary
// file to the -o file. The file is replaced only once every warning of the
// run is written: a failure to write them leaves it as it was.
int filter() {
  if (options.json) {
    install_finding_sink(write_json_to_stderr);
  }
  if (options.output == nullptr) {
    return refuse_input_as_output() != 0 ? 1 : filter_document(config, pIn, stdout, nullptr);
  }
  std::FILE* out = open_output_file(options.output);
  if (out == nullptr) {
    return 1;
  }
  if (out == stdout && refuse_input_as_output() != 0) {
    return 1;  // -o naming standard output is standard output
  }
  int status = filter_document(config, pIn, out, nullptr);
  if (status == 0 && drain_stderr() != 0) {
    status = 1;  // nothing can say so: standard error is what failed
  }
  if (status != 0) {
    discard_output_file(out);
    return status;
  }
  return commit_output_file(out);
}

int run() {
  install_removal_report(options.report);
  if (options.check) {
    const CheckOptions check{options.finding_format, options.quiet, options.suffixes, options.jobs};
    return check_files(config, options.files, options.file_count, check);
  }
  if (options.batch) {
    return batch_filter(config, fileno(pIn), stdout);
  }
  return filter();
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

// Standard error becomes a line stream: warnings and messages go out in
// whole lines, gathered like the output (written before each block of
// output, each read of input and at exit), and a failure to write them is
// known. glibc lets stderr be assigned; the stream it was stays open for
// finish_stderr to restore.
void take_stderr_into_lines() {
  std::FILE* lines = lines_open(STDERR_FILENO);
  if (lines != nullptr) {
    original_stderr = stderr;
    stderr = lines;
    stderr_in_lines = true;
  }
  lines_catch_signals();
}

// Writes out what standard error holds and restores it: true when a write
// to it failed at some point of the run.
bool finish_stderr() {
  if (!stderr_in_lines) {
    return std::fflush(stderr) != 0;
  }
  std::FILE* lines = stderr;
  stderr = original_stderr;
  stderr_in_lines = false;
  return lines_close(lines) != 0;
}

// A run whose warnings or messages could not all be written has failed,
// as one whose output could not be: check mode calls that trouble.
int with_stderr_status(int status, bool stderr_failed, bool check) {
  if (!stderr_failed) {
    return status;
  }
  if (check) {
    return kCheckTrouble;
  }
  return status != 0 ? status : 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  hold_closed_standard_streams();
  take_stderr_into_lines();
  const bool check_asked = asks_for_check(argc, argv);
  int status = get_args(argc, argv);
  if (options.answered) {
    shut_down();
    return with_stderr_status(status, finish_stderr(), false);
  }
  if (status == 0 && pCfg == nullptr) {
    status = default_cfg();
  }
  if (status == 0) {
    status = read_configuration();
  }
  const bool check = options.check || options.batch || check_asked;
  if (status == 0) {
    status = run();
  } else if (check) {
    status = kCheckTrouble;  // trouble before any file was checked
  }
  shut_down();
  return with_stderr_status(status, finish_stderr(), check);
}
