#include "process_protection.h"

#include "diagnostics.h"

#include <sys/prctl.h>
#include <sys/resource.h>

namespace {

struct rlimit original_core_limit;
bool core_limit_saved = false;

} // namespace

// Neither call can fail on Linux for these arguments (lowering a soft limit
// needs no privilege); a refusal would come from a sandbox that filters them.
// Holding a passphrase without the protection the user was promised would
// be worse than not running, so a refusal ends the process.
void protect_process() {
    if (prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0) fatal_errno();
    if (getrlimit(RLIMIT_CORE, &original_core_limit) != 0) fatal_errno();
    core_limit_saved = true;
    struct rlimit no_core = original_core_limit;
    no_core.rlim_cur = 0;
    if (setrlimit(RLIMIT_CORE, &no_core) != 0) fatal_errno();
}

void restore_child_limits() {
    if (!core_limit_saved) return;
    // Raising the soft limit back up to what it was never exceeds the hard
    // limit, which was left alone.
    if (setrlimit(RLIMIT_CORE, &original_core_limit) != 0) fatal_errno();
}
