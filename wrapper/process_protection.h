// Keeping the passphrase out of core files and away from debuggers while
// the wrapper holds it, and giving the programs it starts their normal
// settings back.
#pragma once

// Marks the process as not dumpable (no core file; other processes of the
// same user can neither attach to it nor read its memory or environment
// through /proc) and lowers the soft core-size limit to 0, keeping the hard
// limit. Ends the process through fatal_errno if either is refused.
void protect_process();

// Puts back the core-size limit the wrapper was started with; called just
// before another program is executed (which makes the process dumpable
// again by itself). Ends the process through fatal_errno if it is refused.
void restore_child_limits();
