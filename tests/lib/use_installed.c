/* A program built against the installed libtessel (tests/install_check.sh). */
#include <stdio.h>
#include <tessel.h>

int main(void) {
  tessel_policy* policy;
  if (tessel_policy_from_string("DEFAULT: DROP <b>: KEEP", 23, &policy, NULL) != TESSEL_OK) {
    return 1;
  }
  char* out;
  size_t length;
  if (tessel_filter(policy, "<b>x</b><i>y</i>", 16, 0, &out, &length, NULL) != TESSEL_OK) {
    return 1;
  }
  fputs(out, stdout);
  tessel_free(out);
  tessel_policy_free(policy);
  return 0;
}
