// The walk of a tree for check mode. Each directory is opened relative to
// its parent (openat), so a path longer than PATH_MAX is only ever built
// as text for the findings, never handed to the kernel whole; the cost is
// one descriptor per level of the directories being walked.
//
// A directory's entries are read whole and sorted before any is visited,
// which makes the order stable whatever the file system returns; only the
// directories from the top to the one being walked are held, never the
// whole tree.
#include "driver/walk.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Entry {
  std::string name;
  unsigned char type = DT_UNKNOWN;  // from readdir, when the file system tells
};

struct Level {
  DIR* dir = nullptr;
  std::string prefix;  // the directory's path as shown, with its '/'
  std::vector<Entry> entries;
  std::size_t next = 0;
};

std::vector<Level> levels;
const char* wanted_suffixes = kDefaultSuffixes;
// The top directory's trouble, given out by the first walk_next.
bool top_failed = false;
std::string step_name;
std::string step_message;

char lower_ascii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether name ends in '.' followed by the length bytes at suffix, in
// any ASCII case: pages saved on case-insensitive systems end in .HTML as
// often as not.
bool ends_with_suffix(const std::string& name, const char* suffix, std::size_t length) {
  if (name.size() <= length) {
    return false;
  }
  const std::size_t start = name.size() - length;
  if (name[start - 1] != '.') {
    return false;
  }
  for (std::size_t i = 0; i < length; ++i) {
    if (lower_ascii(name[start + i]) != lower_ascii(suffix[i])) {
      return false;
    }
  }
  return true;
}

bool wanted(const std::string& name) {
  for (const char* item = wanted_suffixes;;) {
    const char* comma = std::strchr(item, ',');
    const std::size_t length = comma != nullptr ? static_cast<std::size_t>(comma - item) : std::strlen(item);
    if (ends_with_suffix(name, item, length)) {
      return true;
    }
    if (comma == nullptr) {
      return false;
    }
    item = comma + 1;
  }
}

constexpr const char* kNotRegular = "Not a regular file";

WalkStep trouble(WalkKind kind, const char* what, const char* reason) {
  step_message.assign(what).append(step_name).append(": ").append(reason);
  WalkStep step;
  step.kind = kind;
  step.name = step_name.c_str();
  step.message = step_message.c_str();
  return step;
}

WalkStep bad_directory(int reason) {
  return trouble(WalkKind::kBadDirectory, "Unable to read directory ", std::strerror(reason));
}
WalkStep bad_file(const char* reason) { return trouble(WalkKind::kBadFile, "Unable to open input file ", reason); }
WalkStep bad_file(int reason) { return bad_file(std::strerror(reason)); }

// Reads the entries of dir, sorted byte-wise; 0, or the errno of a read
// that failed part way (the entries read before it are kept).
int read_entries(DIR* dir, std::vector<Entry>* entries) {
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir);
    if (entry == nullptr) {
      break;
    }
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) {
      entries->push_back(Entry{name, entry->d_type});
    }
  }
  const int reason = errno;
  std::sort(entries->begin(), entries->end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
  return reason;
}

// Takes the directory open on fd as the next level, shown as step_name;
// 0, or the errno of a failure to read it, which is reported while its
// entries read so far are still walked.
int push_level(int fd) {
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    const int reason = errno;
    close(fd);
    return reason;
  }
  Level level;
  level.dir = dir;
  level.prefix = step_name;
  if (level.prefix.empty() || level.prefix.back() != '/') {
    level.prefix.push_back('/');
  }
  const int reason = read_entries(dir, &level.entries);
  levels.push_back(std::move(level));
  return reason;
}

// The type of an entry that readdir left unknown; DT_UNKNOWN after
// setting *reason when it cannot be examined.
unsigned char entry_type(int dir_fd, const std::string& name, int* reason) {
  struct stat status {};
  if (fstatat(dir_fd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    *reason = errno;
    return DT_UNKNOWN;
  }
  switch (status.st_mode & S_IFMT) {
    case S_IFDIR: return DT_DIR;
    case S_IFREG: return DT_REG;
    case S_IFLNK: return DT_LNK;
    default: return DT_FIFO;  // any other kind: not to be opened
  }
}

// Opens a wanted regular file, or what a symbolic link names. The target of
// a link is examined before it is opened, so that a link to a device or a
// FIFO is never opened (which may block or act on the device), and what
// was opened is examined again, in case it changed in between (O_NONBLOCK
// keeps a FIFO put there from blocking the open, and does nothing to the
// reads of a regular file). A link to a directory gives nothing: it is not
// followed.
WalkStep open_wanted(int dir_fd, const std::string& name, bool is_link) {
  struct stat status {};
  if (is_link && fstatat(dir_fd, name.c_str(), &status, 0) != 0) {
    return bad_file(errno);
  }
  if (is_link && S_ISDIR(status.st_mode)) {
    return WalkStep{};
  }
  if (is_link && !S_ISREG(status.st_mode)) {
    return bad_file(kNotRegular);
  }
  const int fd = openat(dir_fd, name.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return bad_file(errno);
  }
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(fd);
    return bad_file(kNotRegular);
  }
  WalkStep step;
  step.kind = WalkKind::kFile;
  step.name = step_name.c_str();
  step.fd = fd;
  return step;
}

// Visits one entry of the innermost level: a step to hand out, or kDone
// when the entry gives nothing (a name not wanted, a directory entered).
WalkStep visit(Level& level, const Entry& entry) {
  step_name.assign(level.prefix).append(entry.name);
  const int dir_fd = dirfd(level.dir);
  int reason = 0;
  const unsigned char type = entry.type != DT_UNKNOWN ? entry.type : entry_type(dir_fd, entry.name, &reason);
  if (type == DT_UNKNOWN) {
    return bad_file(reason);
  }
  if (type == DT_DIR) {
    // O_NOFOLLOW: a directory swapped for a link since readdir is not entered.
    const int fd = openat(dir_fd, entry.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    reason = fd < 0 ? errno : push_level(fd);
    return reason != 0 ? bad_directory(reason) : WalkStep{};
  }
  if (!wanted(entry.name)) {
    return WalkStep{};
  }
  if (type == DT_REG || type == DT_LNK) {
    return open_wanted(dir_fd, entry.name, type == DT_LNK);
  }
  return bad_file(kNotRegular);
}

void pop_level() {
  closedir(levels.back().dir);
  levels.pop_back();
}

}  // namespace

bool walk_suffixes_valid(const char* list) {
  std::size_t item_length = 0;
  for (const char* p = list;; ++p) {
    if (*p == ',' || *p == '\0') {
      if (item_length == 0) {
        return false;
      }
      if (*p == '\0') {
        return true;
      }
      item_length = 0;
    } else if (*p == '.' || *p == '/') {
      return false;
    } else {
      ++item_length;
    }
  }
}

void walk_start(const char* dir, const char* suffixes) {
  walk_end();
  wanted_suffixes = suffixes;
  step_name.assign(dir);
  const int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const int reason = fd < 0 ? errno : push_level(fd);
  top_failed = reason != 0;
  if (top_failed) {
    step_message.assign("Unable to read directory ").append(dir).append(": ").append(std::strerror(reason));
  }
}

WalkStep walk_next() {
  if (top_failed) {
    top_failed = false;
    WalkStep step;
    step.kind = WalkKind::kBadDirectory;
    step.name = step_name.c_str();
    step.message = step_message.c_str();
    return step;
  }
  while (!levels.empty()) {
    Level& level = levels.back();
    if (level.next == level.entries.size()) {
      pop_level();
      continue;
    }
    // The entry is copied: entering a directory grows levels, which may
    // move the level it came from.
    const Entry entry = level.entries[level.next++];
    const WalkStep step = visit(level, entry);
    if (step.kind != WalkKind::kDone) {
      return step;
    }
  }
  return WalkStep{};
}

void walk_end() {
  while (!levels.empty()) {
    pop_level();
  }
  top_failed = false;
}
