/* Times libtessel's C interface on many small documents, for
 * bench/fragments.py: api_bench CFG FRAGMENTS REPS [findings]
 *
 * FRAGMENTS holds the documents one after the other, each a 4-byte
 * little-endian length and its bytes. Each repetition filters them all
 * with tessel_filter (with "findings", asking for the findings too) and
 * frees what it returned; the median CPU time per document is printed in
 * nanoseconds (CPU time, as the other figures of the script: the machine
 * may be shared), with the count and the bytes written once, as a check. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "tessel.h"

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static int compare(const void* a, const void* b) {
  const double x = *(const double*)a;
  const double y = *(const double*)b;
  return x < y ? -1 : x > y;
}

int main(int argc, char** argv) {
  if (argc < 4) {
    fputs("usage: api_bench CFG FRAGMENTS REPS [findings]\n", stderr);
    return 2;
  }
  tessel_policy* policy;
  tessel_error* error;
  if (tessel_policy_from_file(argv[1], &policy, &error) != TESSEL_OK) {
    fputs(error != NULL ? error->message : "no memory\n", stderr);
    return 1;
  }
  FILE* f = fopen(argv[2], "rb");
  if (f == NULL) {
    perror(argv[2]);
    return 1;
  }
  fseek(f, 0, SEEK_END);
  const long size = ftell(f);
  rewind(f);
  unsigned char* data = malloc((size_t)size);
  if (data == NULL || fread(data, 1, (size_t)size, f) != (size_t)size) {
    fputs("cannot read the fragments\n", stderr);
    return 1;
  }
  fclose(f);
  size_t count = 0;
  for (long at = 0; at + 4 <= size; ++count) {
    at += 4 + (long)(data[at] | data[at + 1] << 8 | data[at + 2] << 16 | (uint32_t)data[at + 3] << 24);
  }
  const int reps = atoi(argv[3]);
  const int with_findings = argc > 4 && strcmp(argv[4], "findings") == 0;
  double* times = calloc((size_t)reps, sizeof *times);
  unsigned long long written = 0;
  for (int rep = 0; rep < reps; ++rep) {
    const double start = now();
    for (long at = 0; at + 4 <= size;) {
      const size_t length = data[at] | data[at + 1] << 8 | data[at + 2] << 16 | (uint32_t)data[at + 3] << 24;
      char* out;
      size_t out_length;
      tessel_findings* findings = NULL;
      if (tessel_filter(policy, (const char*)data + at + 4, length, 0, &out, &out_length,
                        with_findings ? &findings : NULL) != TESSEL_OK) {
        fputs("filter failed\n", stderr);
        return 1;
      }
      if (rep == 0) {
        written += out_length;
      }
      tessel_free(out);
      tessel_findings_free(findings);
      at += 4 + (long)length;
    }
    times[rep] = (now() - start) / (double)count;
  }
  qsort(times, (size_t)reps, sizeof *times, compare);
  printf("%.0f %zu %llu\n", times[reps / 2] * 1e9, count, written);
  free(times);
  free(data);
  tessel_policy_free(policy);
  return 0;
}
