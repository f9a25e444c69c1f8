// Reference copy loop for the end-to-end benchmarks: standard input to
// standard output one character at a time with the unlocked stdio calls.
// It does the least any character-by-character filter must do, so its time
// is the floor the runner compares tessel against. Built with the project's
// compiler and flags; stdio's default buffering is kept on purpose.
#include <cstdio>

int main() {
  int c = 0;
  while ((c = getc_unlocked(stdin)) != EOF) {
    putc_unlocked(c, stdout);
  }
  return 0;
}
