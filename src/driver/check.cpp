// Check mode. One Config serves every file and the policy is reset between
// them, so memory stays that of the largest single document however many
// files are named: what a process per file costs is its start-up, and a
// tree of small pages is mostly that.
#include "driver/check.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "driver/document.h"
#include "driver/github.h"
#include "driver/jobs.h"
#include "driver/json.h"
#include "driver/walk.h"
#include "driver/sarif.h"
#include "policy/findings.h"
#include "scanner/iobuf.h"
#include "scanner/lines.h"

namespace {

struct Tally {
  unsigned long files = 0;
  unsigned long findings = 0;
  unsigned long files_with_findings = 0;
  unsigned long unreadable = 0;
};

// The file being checked, for the sinks, and where findings go: a line
// stream on standard output, so that the findings of processes sharing it
// (xargs -P) never splice inside a line.
const char* current_name = nullptr;
std::FILE* findings_out = stdout;
// The file's name as text findings show it, control bytes escaped as in
// the names of tags (a file name can hold any byte but '/' and NUL), and
// the line being built, both reused from file to file.
std::string shown_name;
std::string finding_line;

void show_name(const char* name) {
  shown_name.clear();
  append_escaped_controls(shown_name, name);
}

unsigned long current_findings = 0;
Tally tally;

void count_finding() {
  ++current_findings;
  ++tally.findings;
}

void append_decimal(std::string& line, unsigned long value) {
  std::array<char, 24> digits{};
  const int count = std::snprintf(digits.data(), digits.size(), "%lu", value);
  line.append(digits.data(), static_cast<std::size_t>(count));
}

void write_text_finding(const Finding& finding) {
  count_finding();
  std::array<char, kFindingMessageSize> message{};
  const std::size_t length = finding_message(finding, message.data(), message.size());
  // FILE:LINE:COL: [warning: ]MESSAGE [RULE], without COL when the column
  // is unknown; built without printf (see findings.cpp).
  finding_line.assign(shown_name).append(1, ':');
  append_decimal(finding_line, finding.line);
  if (finding.column != 0) {
    finding_line.append(1, ':');
    append_decimal(finding_line, finding.column);
  }
  finding_line.append(finding.kind == FindingKind::kWarning ? ": warning: " : ": ");
  finding_line.append(message.data(), length);
  finding_line.append(" [").append(finding_rule(finding)).append("]\n");
  (void)lines_put(findings_out, finding_line.data(), finding_line.size());
}

void write_json_line(const Finding& finding) {
  count_finding();
  write_json_finding(current_name, finding, findings_out);
}

void write_sarif_result(const Finding& finding) {
  count_finding();
  sarif_write_finding(current_name, finding, findings_out);
}

void write_github_command(const Finding& finding) {
  count_finding();
  github_write_finding(current_name, finding, findings_out);
}

void write_json_trouble(const char* name, const char* message) { write_json_error(name, message, findings_out); }
void write_sarif_trouble(const char* name, const char* message) { sarif_write_error(name, message, findings_out); }
void write_github_trouble(const char* name, const char* message) { github_write_error(name, message, findings_out); }

void begin_sarif() { sarif_begin(findings_out); }
void end_sarif(bool successful) { sarif_end(successful, findings_out); }

// What each format writes: its findings, the files it could not check
// (null: standard error alone names them), and what comes before the
// first file and after the last (null: nothing).
struct FormatWriter {
  FindingSink finding;
  void (*trouble)(const char* name, const char* message);
  void (*begin)();
  void (*end)(bool successful);
};

constexpr std::size_t kFormatCount = static_cast<std::size_t>(FindingFormat::kGithub) + 1;
using FormatTable = std::array<FormatWriter, kFormatCount>;

constexpr FormatTable make_format_table() {
  FormatTable t{};
  t[static_cast<std::size_t>(FindingFormat::kGnu)] = {write_text_finding, nullptr, nullptr, nullptr};
  t[static_cast<std::size_t>(FindingFormat::kJson)] = {write_json_line, write_json_trouble, nullptr, nullptr};
  t[static_cast<std::size_t>(FindingFormat::kSarif)] = {write_sarif_result, write_sarif_trouble, begin_sarif,
                                                         end_sarif};
  t[static_cast<std::size_t>(FindingFormat::kGithub)] = {write_github_command, write_github_trouble, nullptr,
                                                          nullptr};
  return t;
}

constexpr FormatTable kFormats = make_format_table();

constexpr bool every_format_writes_findings() {
  for (const FormatWriter& w : kFormats) {
    if (w.finding == nullptr) {
      return false;
    }
  }
  return true;
}
static_assert(every_format_writes_findings(), "a format without a finding writer");

constexpr const char* kFormatNames[kFormatCount] = {"gnu", "json", "sarif", "github"};

const FormatWriter* writer = &kFormats[0];

// Writes a message naming a file on standard error, with the control bytes
// of the name escaped as in findings: a file name must not move the
// terminal's cursor either. Formats that carry the message (JSON) escape
// it their own way.
void write_message(const char* message) {
  std::string shown;
  append_escaped_controls(shown, message);
  shown.push_back('\n');
  (void)lines_put(stderr, shown.data(), shown.size());
}

// A file that could not be checked: named on standard error with the
// reason, and in the machine-read formats too, so that a reader of them
// sees the gap.
void report_trouble(const char* name, const char* message) {
  write_message(message);
  if (writer->trouble != nullptr) {
    writer->trouble(name, message);
  }
  ++tally.unreadable;
}

// Opens a named file; null after reporting why it cannot be.
std::FILE* open_file(const char* name) {
  if (name[0] == '\0') {
    report_trouble(name, "Name of specified input file is empty");
    return nullptr;
  }
  std::FILE* in = std::fopen(name, "r");
  if (in == nullptr) {
    const std::string message = std::string("Unable to open input file ") + name + ": " + std::strerror(errno);
    report_trouble(name, message.c_str());
  }
  return in;
}

// A file whose check failed part way. A read error was named on standard
// error as it happened; any other failure is named here, with the file (a
// page too large for the memory is the one that happens).
void report_failed_check(int read_reason, int failure) {
  std::string message;
  if (read_reason != 0) {
    message = std::string("Unable to read input file ") + current_name + ": " + std::strerror(read_reason);
  } else {
    message = std::string("Unable to check input file ") + current_name + ": " +
              (failure == ENOMEM || failure == 0 ? "out of memory" : std::strerror(failure));
    write_message(message.c_str());
  }
  if (writer->trouble != nullptr) {
    writer->trouble(current_name, message.c_str());
  }
  ++tally.unreadable;
}

// Checks one file, counting what it found and whether it could be read;
// opened, when not null, is the file already open, which is closed.
void check_one(const Config* config, const char* name, std::FILE* discard, std::FILE* opened = nullptr) {
  const bool is_stdin = std::strcmp(name, "-") == 0 && opened == nullptr;
  current_name = is_stdin ? kStdinName : name;
  show_name(current_name);
  current_findings = 0;
  ++tally.files;
  std::FILE* in = is_stdin ? stdin : opened != nullptr ? opened : open_file(name);
  if (in == nullptr) {
    return;
  }
  errno = 0;
  const int status = filter_document(config, in, discard, current_name);
  const int failure = errno;
  const int reason = input_error();  // the reader's errno, kept by the input layer
  if (!is_stdin) {
    std::fclose(in);
  }
  if (status != 0) {
    report_failed_check(reason, failure);
  }
  if (current_findings != 0) {
    ++tally.files_with_findings;
  }
  // The findings of a file are out once it is done, whatever the next
  // one does (a FIFO that never ends, a kill by timeout).
  (void)lines_flush_all();
}

// Checks the file that the walk opened on fd, which is closed.
void check_descriptor(const Config* config, const char* name, int fd, std::FILE* discard) {
  std::FILE* in = fdopen(fd, "r");
  if (in != nullptr) {
    check_one(config, name, discard, in);
    return;
  }
  const int reason = errno;
  close(fd);
  const std::string message = std::string("Unable to open input file ") + name + ": " + std::strerror(reason);
  ++tally.files;
  report_trouble(name, message.c_str());
}

// Whether a name on the command line is a directory to walk ("-" is
// standard input, whatever is called "-" in the current directory).
bool names_directory(const char* name) {
  struct stat status {};
  return std::strcmp(name, "-") != 0 && stat(name, &status) == 0 && S_ISDIR(status.st_mode);
}

// Checks each file the walk of dir finds, here or, with in_jobs, in the
// workers. An entry that cannot be opened counts among the files, as a
// named file that cannot; a directory that cannot be read is trouble
// without being a file.
void check_tree(const Config* config, const char* dir, std::FILE* discard, CheckOptions options, bool in_jobs) {
  walk_start(dir, options.suffixes != nullptr ? options.suffixes : kDefaultSuffixes);
  for (WalkStep step = walk_next(); step.kind != WalkKind::kDone && !(in_jobs && jobs_stopped());
       step = walk_next()) {
    const bool is_file = step.kind == WalkKind::kBadFile;
    if (step.kind == WalkKind::kFile) {
      in_jobs ? jobs_add_file(step.name, step.fd) : check_descriptor(config, step.name, step.fd, discard);
    } else if (in_jobs) {
      jobs_add_trouble(step.name, step.message, is_file);
    } else {
      tally.files += is_file ? 1 : 0;
      report_trouble(step.name, step.message);
    }
  }
  walk_end();
}

// What the workers of -j need from this module: the configuration and the
// discard stream they inherit, and the format's state.
const Config* job_config = nullptr;
std::FILE* job_discard = nullptr;
bool sarif_result_written = false;

constexpr std::size_t kSarif = static_cast<std::size_t>(FindingFormat::kSarif);

// The results of a SARIF log after the first begin with a comma. A
// worker cannot know whether its file's results come first, so it writes
// each as a later result (a result written to /dev/null takes the writer
// past its first), and the parent takes the comma off the first result
// of the log; what the parent writes itself follows the log as written
// (a log begun afresh on /dev/null makes the next result the first).
bool writing_sarif() { return writer == &kFormats[kSarif]; }
void pass_first_sarif_result() { sarif_write_error("", "", job_discard); }
void restart_sarif_results() { sarif_begin(job_discard); }

void check_in_worker(const char* name, int fd, std::FILE* out, JobCounts* counts) {
  if (writing_sarif()) {
    pass_first_sarif_result();
  }
  // The parent checks here too when no worker is left: its stream and
  // its summary are put back.
  std::FILE* const saved_out = findings_out;
  const Tally saved_tally = tally;
  findings_out = out;
  tally = Tally{};
  if (fd >= 0) {
    check_descriptor(job_config, name, fd, job_discard);
  } else {
    check_one(job_config, name, job_discard);
  }
  *counts = JobCounts{tally.files, tally.findings, tally.files_with_findings, tally.unreadable};
  tally = saved_tally;
  findings_out = saved_out;
}

bool findings_failed() {
  return lines_error(findings_out) != 0 || (findings_out == stdout && std::ferror(stdout) != 0);
}

bool deliver_from_worker(const char* out, std::size_t out_size, const char* err, std::size_t err_size,
                         const JobCounts& counts) {
  (void)lines_put(stderr, err, err_size);
  constexpr std::size_t kIndent = 4;  // "   ," or "    " before a result
  if (writing_sarif() && !sarif_result_written && out_size > kIndent) {
    (void)lines_put(findings_out, "    ", kIndent);
    out += kIndent;
    out_size -= kIndent;
    pass_first_sarif_result();  // what the parent writes next follows it
    sarif_result_written = true;
  }
  (void)lines_put(findings_out, out, out_size);
  tally.files += counts.files;
  tally.findings += counts.findings;
  tally.files_with_findings += counts.files_with_findings;
  tally.unreadable += counts.unreadable;
  (void)lines_flush_all();
  return !findings_failed();
}

// Trouble the parent writes in its place: a directory the walk could not
// read, an entry it could not open, a file whose worker died.
void trouble_in_order(const char* name, const char* message, bool is_file) {
  if (writing_sarif() && !sarif_result_written) {
    restart_sarif_results();
    sarif_result_written = true;
  }
  tally.files += is_file ? 1 : 0;
  report_trouble(name, message);
}

constexpr JobHooks kJobHooks = {check_in_worker, deliver_from_worker, trouble_in_order};

// Checks the files in workers; false in a worker once its work is done.
// *workers_well is false when a worker ended badly.
bool check_in_jobs(const Config* config, char* const files[], int count, std::FILE* discard, CheckOptions options,
                   bool* workers_well) {
  job_config = config;
  job_discard = discard;
  sarif_result_written = false;
  // Whatever the streams hold goes out before the fork, or every worker
  // would hold a copy of it.
  (void)lines_flush_all();
  (void)lines_drain(findings_out);
  (void)lines_drain(stderr);
  if (!jobs_start(jobs_wanted(options.jobs), &kJobHooks)) {
    return false;
  }
  for (int i = 0; i < count && !jobs_stopped(); ++i) {
    if (names_directory(files[i])) {
      check_tree(config, files[i], discard, options, true);
    } else {
      jobs_add_file(files[i], -1);
    }
  }
  *workers_well = jobs_finish();
  return true;
}

const char* plural(unsigned long count) { return count == 1 ? "" : "s"; }

void write_summary() {
  std::fprintf(stderr, "%lu file%s checked, %lu finding%s in %lu file%s", tally.files, plural(tally.files),
               tally.findings, plural(tally.findings), tally.files_with_findings, plural(tally.files_with_findings));
  if (tally.unreadable != 0) {
    std::fprintf(stderr, ", %lu could not be read", tally.unreadable);
  }
  std::fputc('\n', stderr);
}

// The documents are written to /dev/null: the scanner writes through a
// stream (in blocks of its own), and there is nothing to keep.
std::FILE* open_discard() {
  std::FILE* discard = std::fopen("/dev/null", "w");
  if (discard == nullptr) {
    std::perror("Unable to open /dev/null");
  }
  return discard;
}

}  // namespace

bool parse_finding_format(const char* name, FindingFormat* format) {
  for (std::size_t i = 0; i < kFormatCount; ++i) {
    if (std::strcmp(name, kFormatNames[i]) == 0) {
      *format = static_cast<FindingFormat>(i);
      return true;
    }
  }
  return false;
}

int check_files(const Config* config, char* const files[], int count, CheckOptions options) {
  std::FILE* discard = open_discard();
  if (discard == nullptr) {
    return kCheckTrouble;
  }
  tally = Tally{};
  std::FILE* lines = lines_open(STDOUT_FILENO);
  findings_out = lines != nullptr ? lines : stdout;
  writer = &kFormats[static_cast<std::size_t>(options.format)];
  const FindingSink previous = install_finding_sink(writer->finding);
  if (writer->begin != nullptr) {
    writer->begin();
  }
  static char stdin_name[] = "-";
  char* const only_stdin[] = {stdin_name};
  if (count == 0) {
    files = only_stdin;
    count = 1;
  }
  bool workers_well = true;
  if (jobs_wanted(options.jobs) > 1) {
    if (!check_in_jobs(config, files, count, discard, options, &workers_well)) {
      // A worker whose work is done ends as a run does, writing nothing.
      install_finding_sink(previous);
      std::fclose(discard);
      if (lines != nullptr) {
        (void)lines_close(lines);
      }
      findings_out = stdout;
      return kCheckClean;
    }
  } else {
    for (int i = 0; i < count; ++i) {
      if (names_directory(files[i])) {
        check_tree(config, files[i], discard, options, false);
      } else {
        check_one(config, files[i], discard);
      }
    }
  }
  if (writer->end != nullptr) {
    writer->end(tally.unreadable == 0);
  }
  install_finding_sink(previous);
  std::fclose(discard);
  int status = tally.unreadable != 0 || !workers_well ? kCheckTrouble
               : tally.findings != 0                  ? kCheckFindings
                                                      : kCheckClean;
  const bool failed = lines != nullptr ? lines_close(lines) != 0 : std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
  findings_out = stdout;
  if (failed) {
    std::perror("Unable to write findings");
    status = kCheckTrouble;
  }
  if (!options.quiet) {
    write_summary();
  }
  return status;
}
