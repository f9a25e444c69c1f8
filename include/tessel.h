/* libtessel: the tessel HTML filter as a C library.
 *
 * Load a policy (the configuration language of tessel.cfg(5)) once, then
 * filter documents through it in memory:
 *
 *     tessel_policy* policy;
 *     tessel_error* error;
 *     if (tessel_policy_from_file("tessel.cfg", &policy, &error) != TESSEL_OK) {
 *       fprintf(stderr, "%s", error->message);
 *       tessel_error_free(error);
 *       return 1;
 *     }
 *     char* html;
 *     size_t length;
 *     if (tessel_filter(policy, in, in_length, 0, &html, &length, NULL) == TESSEL_OK) {
 *       fwrite(html, 1, length, stdout);
 *       tessel_free(html);
 *     }
 *     tessel_policy_free(policy);
 *
 * Every function reports failure by its status, never by ending the
 * process, and none writes to the process's standard streams: messages go
 * to the caller in a tessel_error.
 *
 * Threads: the filter keeps its working state at module level, so the
 * library serializes every call with one lock of its own: any thread may
 * call any function, but one document (or policy load) is filtered at a
 * time in a process. While a call holds the lock, the C library's stderr
 * points to a memory stream of the call's (that is how the messages of the
 * filter are taken from it): a thread of the program that writes to
 * stderr at that moment writes into it, and its text is lost.
 *
 * Link with `pkg-config --cflags --libs tessel` (the static library also
 * needs the C++ runtime: `pkg-config --static`).
 */
#ifndef TESSEL_H
#define TESSEL_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The interface is all the shared library exports: the library is built
 * with hidden symbols, which lets the calls between its modules be bound
 * and inlined when it is linked. */
#if defined(__GNUC__)
#define TESSEL_API __attribute__((visibility("default")))
#else
#define TESSEL_API
#endif

#define TESSEL_VERSION_MAJOR 1
#define TESSEL_VERSION_MINOR 0

/* Statuses: every function that can fail returns one. */
enum tessel_status {
  TESSEL_OK = 0,
  TESSEL_ERR_ARGUMENT = 1, /* a null pointer where one is needed, or unknown flags */
  TESSEL_ERR_MEMORY = 2,   /* memory ran out */
  TESSEL_ERR_OPEN = 3,     /* the policy file could not be opened or read */
  TESSEL_ERR_POLICY = 4,   /* the policy was rejected: see the tessel_error */
  TESSEL_ERR_WRITE = 5,    /* the caller's write function returned nonzero */
  TESSEL_ERR_FILTER = 6    /* the document could not be filtered otherwise; memory
                              running out deep in the filter can come back as this */
};

/* The text of a status ("policy rejected", ...); a static string, also for
 * a value that is no status. */
TESSEL_API const char* tessel_status_text(int status);

/* A loaded policy. Read-only once loaded: one policy may serve any number
 * of calls, from any thread. */
typedef struct tessel_policy tessel_policy;

/* Why a policy could not be loaded. One allocation, freed with
 * tessel_error_free; every string in it is NUL-terminated, never null, and
 * lives as long as the tessel_error. */
typedef struct tessel_error {
  int status;          /* the status the load returned */
  const char* file;    /* the name the policy was given ("" for a string) */
  unsigned long line;  /* the policy's line where reading stopped, 0 when none */
  const char* place;   /* what was found there and what was expected, as in
                          `found "KEEP", expected ':' or '{' after <i>`; "" when none */
  const char* message; /* every message of the load, each ending in a line end,
                          with "FILE:LINE: PLACE" last when there is a place */
} tessel_error;

TESSEL_API void tessel_error_free(tessel_error* error);

/* Loads the policy in the file at path. On success stores a new policy in
 * *policy and returns TESSEL_OK; else stores null there and returns the
 * status, with a new tessel_error in *error when error is not null (null
 * on success). TESSEL_ERR_OPEN when the file cannot be opened,
 * TESSEL_ERR_POLICY when it holds an error. */
TESSEL_API int tessel_policy_from_file(const char* path, tessel_policy** policy, tessel_error** error);

/* The same for the policy text[0, length), which may hold NUL bytes (the
 * language refuses them) and need not be NUL-terminated. */
TESSEL_API int tessel_policy_from_string(const char* text, size_t length, tessel_policy** policy, tessel_error** error);

/* Frees policy and everything it holds; null is allowed. No call may be
 * using the policy. */
TESSEL_API void tessel_policy_free(tessel_policy* policy);

/* Flags of a filter call. */
#define TESSEL_REPORT_REMOVALS 1u /* also a finding for each tag, attribute,
                                     comment and region removed */

enum tessel_finding_kind {
  TESSEL_FINDING_WARNING = 0,   /* a tag, attribute or comment the policy warns of */
  TESSEL_FINDING_REMOVED = 1,   /* something removed (TESSEL_REPORT_REMOVALS) */
  TESSEL_FINDING_UNSAFE_URL = 2 /* a URL attribute removed for its scheme */
};

/* One finding, as tessel --json reports it. Lines and columns count from
 * 1 (columns in bytes); 0 when unknown. The strings are NUL-terminated and
 * live as long as the tessel_findings that holds them. */
typedef struct tessel_finding {
  int kind;               /* a tessel_finding_kind */
  const char* kind_name;  /* "warning", "removed", "unsafe-url" */
  const char* rule;       /* "tag-warned", "attribute-removed", "unsafe-url", ... */
  unsigned long line;     /* of the '<' that began the piece */
  unsigned long column;
  unsigned long end_line; /* of the piece's '>'; of a region's end (0: the
                             end of the input) */
  unsigned long end_column;
  const char* tag;        /* the upper-case tag name, or null */
  const char* attribute;  /* the upper-case attribute name, or null */
  const char* message;    /* "A tag with unsafe URL in attribute HREF", ... */
} tessel_finding;

/* The findings of one document, in the order of the document. One
 * allocation, freed with tessel_findings_free. */
typedef struct tessel_findings {
  size_t count;
  const tessel_finding* items; /* count entries; null when count is 0 */
} tessel_findings;

TESSEL_API void tessel_findings_free(tessel_findings* findings);

/* Filters html[0, length) through policy. On success stores the filtered
 * document in *output (malloc'd, NUL-terminated after its *output_length
 * bytes; free it with tessel_free) and, when findings is not null, a new
 * tessel_findings in *findings; returns TESSEL_OK. On failure stores null
 * in *output and *findings and 0 in *output_length and returns the
 * status. flags: 0 or TESSEL_REPORT_REMOVALS. */
TESSEL_API int tessel_filter(const tessel_policy* policy, const char* html, size_t length, unsigned flags, char** output,
                  size_t* output_length, tessel_findings** findings);

/* Receives the filtered document piece by piece: 0 to go on, nonzero to
 * stop the filter (tessel_filter_to then returns TESSEL_ERR_WRITE). The
 * bytes are valid only during the call. */
typedef int (*tessel_write_fn)(void* context, const char* bytes, size_t length);

/* tessel_filter writing the document through write(context, ...) instead
 * of into a buffer. It is called under the library's lock: it must not
 * call the library. What it received before a failure stays received. */
TESSEL_API int tessel_filter_to(const tessel_policy* policy, const char* html, size_t length, unsigned flags,
                     tessel_write_fn write, void* context, tessel_findings** findings);

/* Frees a buffer the library returned (tessel_filter's output); null is
 * allowed. */
TESSEL_API void tessel_free(void* buffer);

#ifdef __cplusplus
}
#endif

#endif
