/* libtessel through its C interface: results, findings, every error
 * status it can give from the outside, that nothing reaches the process's
 * own streams, a thousand policies loaded and freed (run under the
 * sanitizers and valgrind for leaks), and threads sharing one policy.
 *
 * Usage: api_test SOURCE_DIR. Prints "N passed, N failed". */
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tessel.h"

static int passed;
static int failed;

#define CHECK(cond)                                               \
  do {                                                            \
    if (cond) {                                                   \
      ++passed;                                                   \
    } else {                                                      \
      ++failed;                                                   \
      fprintf(saved_stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond); \
    }                                                             \
  } while (0)

/* The test's own reports go here: the process's stderr is watched. */
static FILE* saved_stderr;
static char example_cfg[4096];

static const char kPolicy[] =
    "MODE: SAFE\n"
    "DEFAULT: DROP\n"
    "<b>: KEEP\n"
    "<blink>: WARN\n"
    "<script>: DROP ALL\n"
    "<a> { ATTRIBUTE href: KEEP DEFAULT: DROP }\n";

static tessel_policy* load(const char* text) {
  tessel_policy* policy = NULL;
  tessel_error* error = NULL;
  int status = tessel_policy_from_string(text, strlen(text), &policy, &error);
  CHECK(status == TESSEL_OK && policy != NULL && error == NULL);
  return policy;
}

static void test_filter_and_findings(void) {
  tessel_policy* policy = load(kPolicy);
  static const char html[] = "<b>x</b><i>y</i>\n<blink>z</blink><script>s</script>"
                             "<a href=\"javascript:x\" onclick=y>l</a>";
  char* out = NULL;
  size_t length = 0;
  tessel_findings* findings = NULL;
  CHECK(tessel_filter(policy, html, strlen(html), 0, &out, &length, &findings) == TESSEL_OK);
  static const char wanted[] = "<b>x</b>y\n<blink>z</blink><a>l</a>";
  CHECK(out != NULL && length == strlen(wanted) && memcmp(out, wanted, length) == 0 && out[length] == '\0');
  CHECK(findings != NULL && findings->count == 3);
  if (findings != NULL && findings->count == 3) {
    const tessel_finding* f = findings->items;
    CHECK(f[0].kind == TESSEL_FINDING_WARNING && strcmp(f[0].rule, "tag-warned") == 0 && f[0].line == 2 &&
          f[0].column == 1 && strcmp(f[0].tag, "BLINK") == 0 && f[0].attribute == NULL);
    CHECK(f[2].kind == TESSEL_FINDING_UNSAFE_URL && strcmp(f[2].kind_name, "unsafe-url") == 0 &&
          strcmp(f[2].tag, "A") == 0 && strcmp(f[2].attribute, "HREF") == 0 &&
          strcmp(f[2].message, "A tag with unsafe URL in attribute HREF") == 0);
  }
  tessel_findings_free(findings);
  tessel_free(out);

  /* With removals reported; an empty document; no findings asked for. */
  CHECK(tessel_filter(policy, html, strlen(html), TESSEL_REPORT_REMOVALS, &out, &length, &findings) == TESSEL_OK);
  CHECK(findings != NULL && findings->count > 3);
  tessel_findings_free(findings);
  tessel_free(out);
  CHECK(tessel_filter(policy, NULL, 0, 0, &out, &length, &findings) == TESSEL_OK);
  CHECK(out != NULL && length == 0 && out[0] == '\0' && findings->count == 0 && findings->items == NULL);
  tessel_findings_free(findings);
  tessel_free(out);
  /* A region left open by one document does not reach the next. */
  CHECK(tessel_filter(policy, "<script>open", 12, 0, &out, &length, NULL) == TESSEL_OK && length == 0);
  tessel_free(out);
  CHECK(tessel_filter(policy, "<b>after</b>", 12, 0, &out, &length, NULL) == TESSEL_OK &&
        strcmp(out, "<b>after</b>") == 0);
  tessel_free(out);
  tessel_policy_free(policy);
}

struct pieces {
  char text[256];
  size_t length;
  int fail_after; /* calls before failing; -1 never */
};

static int gather(void* context, const char* bytes, size_t length) {
  struct pieces* p = context;
  if (p->fail_after == 0) {
    return 1;
  }
  --p->fail_after;
  if (p->length + length < sizeof p->text) {
    memcpy(p->text + p->length, bytes, length);
    p->length += length;
  }
  return 0;
}

static void test_write_callback(void) {
  tessel_policy* policy = load(kPolicy);
  struct pieces p = {{0}, 0, -1};
  tessel_findings* findings = NULL;
  CHECK(tessel_filter_to(policy, "<b>a</b><i>b", 12, 0, gather, &p, &findings) == TESSEL_OK);
  CHECK(p.length == 9 && memcmp(p.text, "<b>a</b>b", 9) == 0 && findings != NULL && findings->count == 0);
  tessel_findings_free(findings);
  struct pieces refusing = {{0}, 0, 0};
  findings = (tessel_findings*)&refusing; /* must be reset to null */
  CHECK(tessel_filter_to(policy, "<b>a</b>", 8, 0, gather, &refusing, &findings) == TESSEL_ERR_WRITE);
  CHECK(findings == NULL);
  tessel_policy_free(policy);
}

static void test_load_errors(void) {
  tessel_policy* policy = (tessel_policy*)1;
  tessel_error* error = NULL;
  static const char bad[] = "<b>: KEEP\n<a>: EDIT\n";
  CHECK(tessel_policy_from_string(bad, strlen(bad), &policy, &error) == TESSEL_ERR_POLICY && policy == NULL);
  CHECK(error != NULL && error->status == TESSEL_ERR_POLICY && error->line == 2 && strcmp(error->file, "") == 0);
  if (error != NULL) {
    CHECK(strcmp(error->place, "found \"EDIT\", expected KEEP, WARN, DROP or DROP ALL after <a>:") == 0);
    CHECK(strstr(error->message, "Unexpected word \"EDIT\" found\n") == error->message);
    CHECK(strstr(error->message, "line 2: found \"EDIT\"") != NULL);
  }
  tessel_error_free(error);

  /* A NUL inside the text is an error of the language, not the text's end. */
  CHECK(tessel_policy_from_string("<b>: KEEP\0<i>: KEEP", 19, &policy, &error) == TESSEL_ERR_POLICY);
  tessel_error_free(error);

  FILE* f = fopen("bad.cfg", "w");
  fputs("DEFAULT: DROP\n\n<x>: KEEP;\n", f);
  fclose(f);
  CHECK(tessel_policy_from_file("bad.cfg", &policy, &error) == TESSEL_ERR_POLICY);
  CHECK(error != NULL && strcmp(error->file, "bad.cfg") == 0 && error->line == 3 &&
        strstr(error->message, "bad.cfg:3: found ';'") != NULL);
  tessel_error_free(error);

  CHECK(tessel_policy_from_file("missing.cfg", &policy, &error) == TESSEL_ERR_OPEN && policy == NULL);
  CHECK(error != NULL && error->line == 0 && strcmp(error->place, "") == 0 &&
        strcmp(error->message, "Unable to open configuration file missing.cfg: No such file or directory\n") == 0);
  tessel_error_free(error);
  mkdir("dir.cfg", 0700);
  CHECK(tessel_policy_from_file("dir.cfg", &policy, &error) == TESSEL_ERR_OPEN);
  CHECK(error != NULL && strstr(error->message, "Is a directory") != NULL);
  tessel_error_free(error);
  /* No error wanted: the status alone. */
  CHECK(tessel_policy_from_file("missing.cfg", &policy, NULL) == TESSEL_ERR_OPEN);
}

static void test_arguments(void) {
  tessel_policy* policy = load(kPolicy);
  tessel_error* error = NULL;
  char* out = (char*)1;
  size_t length = 1;
  CHECK(tessel_policy_from_string(NULL, 0, &policy, &error) == TESSEL_ERR_ARGUMENT);
  CHECK(error != NULL && error->status == TESSEL_ERR_ARGUMENT);
  tessel_error_free(error);
  CHECK(tessel_policy_from_file(NULL, &policy, NULL) == TESSEL_ERR_ARGUMENT);
  CHECK(tessel_policy_from_file("x", NULL, NULL) == TESSEL_ERR_ARGUMENT);
  CHECK(tessel_filter(NULL, "x", 1, 0, &out, &length, NULL) == TESSEL_ERR_ARGUMENT && out == NULL && length == 0);
  CHECK(tessel_filter(policy, NULL, 1, 0, &out, &length, NULL) == TESSEL_ERR_ARGUMENT);
  CHECK(tessel_filter(policy, "x", 1, 0, NULL, &length, NULL) == TESSEL_ERR_ARGUMENT);
  CHECK(tessel_filter(policy, "x", 1, 0, &out, NULL, NULL) == TESSEL_ERR_ARGUMENT);
  CHECK(tessel_filter(policy, "x", 1, 2, &out, &length, NULL) == TESSEL_ERR_ARGUMENT);
  CHECK(tessel_filter_to(policy, "x", 1, 0, NULL, NULL, NULL) == TESSEL_ERR_ARGUMENT);
  CHECK(strcmp(tessel_status_text(TESSEL_ERR_POLICY), "policy rejected") == 0);
  CHECK(strcmp(tessel_status_text(99), "unknown status") == 0);
  tessel_policy_free(NULL);
  tessel_error_free(NULL);
  tessel_findings_free(NULL);
  tessel_free(NULL);
  tessel_policy_free(policy);
}

static void test_many_policies(void) {
  for (int i = 0; i < 1000; ++i) {
    tessel_policy* policy = NULL;
    tessel_error* error = NULL;
    int status;
    if (i % 10 == 9) {
      status = tessel_policy_from_string("<b>: NOPE", 9, &policy, &error);
      CHECK(status == TESSEL_ERR_POLICY && error != NULL);
      tessel_error_free(error);
      continue;
    }
    status = i % 2 == 0 ? tessel_policy_from_file(example_cfg, &policy, &error)
                        : tessel_policy_from_string(kPolicy, strlen(kPolicy), &policy, &error);
    if (status != TESSEL_OK) {
      CHECK(status == TESSEL_OK);
      tessel_error_free(error);
      break;
    }
    char* out = NULL;
    size_t length = 0;
    tessel_findings* findings = NULL;
    const int filtered =
        tessel_filter(policy, "<b onclick=x>t</b><svg><a href=javascript:1>", 44, 0, &out, &length, &findings);
    if (filtered != TESSEL_OK) {
      CHECK(filtered == TESSEL_OK);
    }
    tessel_free(out);
    tessel_findings_free(findings);
    tessel_policy_free(policy);
  }
  ++passed;
}

struct worker {
  const tessel_policy* policy;
  int failures;
};

static void* filter_many(void* context) {
  struct worker* w = context;
  for (int i = 0; i < 300; ++i) {
    char html[64];
    char wanted[64];
    snprintf(html, sizeof html, "<b>%d</b><script>%d<b>x", i, i);
    snprintf(wanted, sizeof wanted, "<b>%d</b>", i);
    char* out = NULL;
    size_t length = 0;
    if (tessel_filter(w->policy, html, strlen(html), 0, &out, &length, NULL) != TESSEL_OK ||
        strcmp(out, wanted) != 0) {
      ++w->failures;
    }
    tessel_free(out);
  }
  return NULL;
}

static void test_threads(void) {
  tessel_policy* policy = load(kPolicy);
  struct worker workers[4];
  pthread_t threads[4];
  for (int i = 0; i < 4; ++i) {
    workers[i].policy = policy;
    workers[i].failures = 0;
    pthread_create(&threads[i], NULL, filter_many, &workers[i]);
  }
  for (int i = 0; i < 4; ++i) {
    pthread_join(threads[i], NULL);
    CHECK(workers[i].failures == 0);
  }
  tessel_policy_free(policy);
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fputs("usage: api_test SOURCE_DIR\n", stderr);
    return 2;
  }
  snprintf(example_cfg, sizeof example_cfg, "%s/examples/tessel.cfg", argv[1]);
  char dir[] = "/tmp/tessel-api-XXXXXX";
  if (mkdtemp(dir) == NULL || chdir(dir) != 0) {
    perror("temporary directory");
    return 2;
  }
  /* Standard output and error go to files that must stay empty. */
  saved_stderr = fdopen(dup(2), "w");
  setvbuf(saved_stderr, NULL, _IONBF, 0);
  FILE* const stderr_before = stderr;
  fflush(stdout);
  if (freopen("stdout.txt", "w", stdout) == NULL || freopen("stderr.txt", "w", stderr) == NULL) {
    perror("watching the standard streams");
    return 2;
  }

  test_filter_and_findings();
  test_write_callback();
  test_load_errors();
  test_arguments();
  test_many_policies();
  test_threads();

  CHECK(stderr == stderr_before);
  fflush(stdout);
  fflush(stderr);
  struct stat out_status;
  struct stat err_status;
  CHECK(stat("stdout.txt", &out_status) == 0 && out_status.st_size == 0);
  CHECK(stat("stderr.txt", &err_status) == 0 && err_status.st_size == 0);
  fclose(stdout);
  fclose(stderr);
  unlink("stdout.txt");
  unlink("stderr.txt");
  unlink("bad.cfg");
  rmdir("dir.cfg");
  if (chdir("/") == 0) {
    rmdir(dir);
  }
  fprintf(saved_stderr, "%d passed, %d failed\n", passed, failed);
  fclose(saved_stderr);
  return failed == 0 ? 0 : 1;
}
