// The walk of a directory tree in check mode: yields, one at a time and in
// a stable order, the files to check and the entries that could not be
// examined, so that a tree of any size costs one process and a memory flat
// in the number of files.
#ifndef TESSEL_WALK_H
#define TESSEL_WALK_H

// The suffixes checked when none are asked for.
constexpr const char* kDefaultSuffixes = "html,htm";

// Whether list is a comma list of one or more suffixes, each non-empty and
// without '.' or '/' ("html,htm,xhtml").
bool walk_suffixes_valid(const char* list);

enum class WalkKind {
  kFile,         // a regular file to check: fd is open for reading
  kBadFile,      // a file (or an entry that may be one) that cannot be opened
  kBadDirectory,  // a directory that cannot be opened or read
  kDone,         // nothing is left
};

// One step of the walk. name is the entry's path as the user named the
// directory plus "/" and the names below it, and message the reason for
// trouble as a sentence; both stay valid until the next walk_next or
// walk_end. The caller owns fd and closes it.
struct WalkStep {
  WalkKind kind = WalkKind::kDone;
  const char* name = nullptr;
  const char* message = nullptr;
  int fd = -1;
};

// Begins a walk of the directory dir (a symbolic link to one is followed,
// as the user named it), taking the regular files, and symbolic links to
// them, whose names end in '.' and one of suffixes (a list that
// walk_suffixes_valid accepts), compared without regard to ASCII case.
// Below dir, symbolic links to directories are not followed. Ends any walk
// still going.
void walk_start(const char* dir, const char* suffixes);

// The next step: the entries of each directory in byte order of their
// names, depth first. Trouble does not end the walk: the step after it
// goes on with the next entry.
WalkStep walk_next();

// Closes what the walk still holds open.
void walk_end();

#endif
