// For the tessel command, which reads its configuration itself (with the
// search, the messages and the statuses of its own) and then filters
// through the library: a policy over that Config.
#ifndef TESSEL_POLICY_OVER_H
#define TESSEL_POLICY_OVER_H

#include "config/config.h"
#include "tessel.h"

// A new policy that filters with config, which the caller keeps: it must
// outlive the policy, and tessel_policy_free frees only the policy. Null
// when there is no memory. Not exported by the shared library.
tessel_policy* tessel_policy_over(const Config* config);

#endif
