/* libtessel when memory runs out: each allocation of a policy load and of
 * a filter call is made to fail in turn, and each call must then fail
 * with a status (TESSEL_ERR_MEMORY mostly) or succeed, never crash, and
 * leave nothing allocated behind.
 *
 * malloc and its kin are replaced here, over glibc's own, so this program
 * is built without sanitizers (which replace them too). Prints
 * "N passed, N failed". */
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <errno.h>

#include "tessel.h"

extern void* __libc_malloc(size_t size);
extern void* __libc_calloc(size_t count, size_t size);
extern void* __libc_realloc(void* p, size_t size);
extern void __libc_free(void* p);

/* The allocation to fail (counted from 0 once armed), or -1; how many
 * have been made since, and the blocks live. Volatile: the compiler takes
 * malloc to touch no variable of the program's, and would keep these in
 * registers across calls that allocate. */
static volatile long fail_at = -1;
static volatile long made;
static volatile long failures;
static volatile long live;

static int fails(void) {
  if (fail_at < 0) {
    return 0;
  }
  const long this_one = made;
  made = this_one + 1;
  if (this_one == fail_at) {
    failures = failures + 1;
    errno = ENOMEM;  /* as glibc's malloc sets it */
    return 1;
  }
  return 0;
}

void* malloc(size_t size) {
  if (fails()) {
    return NULL;
  }
  void* p = __libc_malloc(size);
  if (p != NULL) {
    live = live + 1;
  }
  return p;
}

void* calloc(size_t count, size_t size) {
  if (fails()) {
    return NULL;
  }
  void* p = __libc_calloc(count, size);
  if (p != NULL) {
    live = live + 1;
  }
  return p;
}

void* realloc(void* old, size_t size) {
  if (fails()) {
    return NULL;
  }
  void* p = __libc_realloc(old, size);
  if (old == NULL && p != NULL) {
    live = live + 1;
  }
  return p;
}

void free(void* p) {
  if (p != NULL) {
    live = live - 1;
  }
  __libc_free(p);
}

static int passed;
static int failed;

static void check(int ok, const char* what, long step) {
  if (ok) {
    ++passed;
  } else {
    ++failed;
    fprintf(stderr, "%s (allocation %ld)\n", what, step);
  }
}

static void arm(long step) {
  fail_at = step;
  made = 0;
  failures = 0;
}

static void disarm(void) { fail_at = -1; }

static const char kPolicy[] =
    "MODE: SAFE\nDEFAULT: DROP\n<b>: KEEP\n<blink>: WARN\n<script>: DROP ALL\n"
    "<a> { ATTRIBUTE href: KEEP DEFAULT: DROP }\n";
static const char kHtml[] = "<b>x</b><blink>y</blink><a href=javascript:1 onclick=2>z</a><script>s";

int main(void) {
  /* A first call of each kind, so that what stdio and the runtime keep
   * for the whole process is allocated before counting starts. */
  tessel_policy* policy = NULL;
  tessel_filter(NULL, NULL, 0, 0, NULL, NULL, NULL);
  if (tessel_policy_from_string(kPolicy, strlen(kPolicy), &policy, NULL) != TESSEL_OK) {
    fputs("the policy does not load\n", stderr);
    return 1;
  }
  char* out = NULL;
  size_t length = 0;
  tessel_findings* findings = NULL;
  tessel_filter(policy, kHtml, strlen(kHtml), 0, &out, &length, &findings);
  tessel_free(out);
  tessel_findings_free(findings);

  for (long step = 0;; ++step) {
    const long before = live;
    tessel_policy* loaded = NULL;
    tessel_error* error = NULL;
    arm(step);
    const int status = tessel_policy_from_string(kPolicy, strlen(kPolicy), &loaded, &error);
    disarm();
    check(status == TESSEL_OK || status == TESSEL_ERR_MEMORY || status == TESSEL_ERR_POLICY, "load status", step);
    check((status == TESSEL_OK) == (loaded != NULL), "policy stored on success only", step);
    tessel_policy_free(loaded);
    tessel_error_free(error);
    check(live == before, "load leaves nothing behind", step);
    if (failures == 0) {
      break;
    }
  }
  for (long step = 0;; ++step) {
    const long before = live;
    arm(step);
    const int status = tessel_filter(policy, kHtml, strlen(kHtml), TESSEL_REPORT_REMOVALS, &out, &length, &findings);
    disarm();
    /* A module out of memory reports a failure as any other, which the
     * library cannot always tell from another failure. */
    check(status == TESSEL_OK || status == TESSEL_ERR_MEMORY || status == TESSEL_ERR_FILTER, "filter status", step);
    check((status == TESSEL_OK) == (out != NULL && findings != NULL), "results stored on success only", step);
    if (status == TESSEL_OK) {
      check(strcmp(out, "<b>x</b><blink>y</blink><a>z</a>") == 0, "filtered document", step);
    }
    tessel_free(out);
    tessel_findings_free(findings);
    /* What a document cut short leaves in the modules (the scanner's
     * string, names they keep) is theirs until the next document: one
     * filtered in full must bring it back to what it was. */
    check(tessel_filter(policy, kHtml, strlen(kHtml), TESSEL_REPORT_REMOVALS, &out, &length, &findings) ==
              TESSEL_OK, "the next document", step);
    tessel_free(out);
    tessel_findings_free(findings);
    check(live == before, "filter leaves nothing behind", step);
    if (failures == 0) {
      break;
    }
  }
  tessel_policy_free(policy);
  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
