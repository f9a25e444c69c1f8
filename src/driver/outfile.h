// The -o output file: the document is written to a temporary file beside
// it and takes its name only when all went well, so a failed run (the
// configuration, the input, a full disk, a signal) leaves the file as it
// was and no temporary file behind.
#ifndef TESSEL_OUTFILE_H
#define TESSEL_OUTFILE_H

#include <cstdio>

// Opens a new temporary file in the directory of name, with the permission
// bits of the file name (0666 less the umask when there is none), made
// without a name where the system can, so that no way of ending the
// process leaves it behind; while it has a name a signal that would end
// the process removes it, then goes on to the handler installed before
// (or ends the process). Returns its stream, or null after a message on
// standard error (also when name exists and is not a regular file, or is
// standard error). When name is the file standard output writes, returns
// stdout itself, which the two calls below then only flush.
std::FILE* open_output_file(const char* name);

// Writes out, the stream open_output_file gave, to the disk, closes it and
// renames the temporary file over the output file: 0, or 1 after a message,
// the temporary file removed and the output file as it was.
int commit_output_file(std::FILE* out);

// Closes out and removes the temporary file.
void discard_output_file(std::FILE* out);

#endif
