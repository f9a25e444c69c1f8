// Check mode: filters many files with one configuration, throws the
// documents away and reports the findings, as linters do.
#ifndef TESSEL_CHECK_H
#define TESSEL_CHECK_H

#include "config/config.h"

// How findings are written: FILE:LINE: message lines, JSON lines, one
// SARIF log, or GitHub Actions workflow commands.
enum class FindingFormat { kGnu, kJson, kSarif, kGithub };

// Sets *format to the format called name ("gnu", "json", "sarif",
// "github"); false, *format unchanged, when there is none of that name.
bool parse_finding_format(const char* name, FindingFormat* format);

struct CheckOptions {
  FindingFormat format = FindingFormat::kGnu;
  bool quiet = false;  // no summary
  const char* suffixes = nullptr;  // of the files found in directories; null: html,htm
  int jobs = 1;  // worker processes (-j); 0: one per processor, 1: none
};

// Exit statuses of check mode: trouble outranks findings.
constexpr int kCheckClean = 0;
constexpr int kCheckFindings = 1;
constexpr int kCheckTrouble = 2;

// Filters each of the count files (names; "-" is standard input, and so is
// no file at all; a directory is walked for the files whose names end in
// one of options.suffixes) with config, which must be installed in the policy.
// Writes each finding on standard output in options.format, names each file it cannot read on standard error with the
// reason and goes on, and ends with a summary line on standard error
// unless options.quiet. Returns kCheckTrouble when a file could not be
// read or the findings not written, else kCheckFindings when some file
// has a finding, else kCheckClean.
int check_files(const Config* config, char* const files[], int count, CheckOptions options);

// The name that findings in standard input carry, as grep has it.
constexpr const char* kStdinName = "(standard input)";

#endif
