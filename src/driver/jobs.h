// Check mode in worker processes: the parent names the files in order,
// forked workers check them side by side, and what each file produced is
// handed back to the parent in the order the files were named, so that
// the output is the same whatever the number of workers.
//
// Workers are forked once, before the first file, and inherit the
// configuration and every module's state as it is then; they never write
// to standard output or standard error: what a file produces travels back
// through a socket, whole, and the parent writes it when its turn comes.
#ifndef TESSEL_JOBS_H
#define TESSEL_JOBS_H

#include <cstddef>
#include <cstdio>

// The largest number of workers asked for with -j.
constexpr int kMaxJobs = 1024;

// What checking files added to the summary.
struct JobCounts {
  unsigned long files = 0;
  unsigned long findings = 0;
  unsigned long files_with_findings = 0;
  unsigned long unreadable = 0;
};

// What the caller does for the workers and for the parent.
struct JobHooks {
  // In a worker (or in the parent when no worker is left): checks the file
  // name, open on fd (which it closes) or, when fd is -1, opened by name,
  // writing its findings to out and its messages to stderr; *counts is
  // what the file adds to the summary.
  void (*check)(const char* name, int fd, std::FILE* out, JobCounts* counts);
  // In the parent, in file order: writes what a file produced and adds its
  // counts; false once standard output has failed, which ends the run.
  bool (*deliver)(const char* out, std::size_t out_size, const char* err, std::size_t err_size,
                  const JobCounts& counts);
  // In the parent, in file order: reports a file (is_file) or a directory
  // that could not be checked, with message as the reason.
  void (*trouble)(const char* name, const char* message, bool is_file);
};

// The number of workers that -j N asks for: N, or for 0 the number of
// processors online; at least 1.
int jobs_wanted(int asked);

// Forks up to workers workers (fewer when descriptors or processes run
// short; none leaves the checking to the parent). In the parent: true,
// and the other functions take the files. In a worker: false once the
// parent has no more files for it; the caller then releases what it holds
// and ends the process as it would end a run, writing nothing.
// The caller has written out everything its line streams held.
bool jobs_start(int workers, const JobHooks* hooks);

// Adds the file name (copied) to be checked, open on fd (taken; -1: by
// name; "-" is standard input, read by one worker in the order named).
// May wait for earlier files and hand their output on.
void jobs_add_file(const char* name, int fd);

// Adds, in its place among the files, an entry that could not be checked.
void jobs_add_trouble(const char* name, const char* message, bool is_file);

// Whether the run has ended early, standard output having failed: the
// caller names no more files.
bool jobs_stopped();

// Waits for every file, hands the rest of the output on, ends the
// workers and waits for them: true when every worker ended well.
bool jobs_finish();

#endif
