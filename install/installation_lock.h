// One installation at a time on the machine: two setups confirmed together
// would otherwise interleave their removals and installations.
#pragma once

#include "platform/scoped_handle.h"

// Waits, without a time limit, until no other setup holds the machine-wide
// installation lock, and returns it held by the calling thread. Empty when the
// lock cannot be made or waited for; then the caller goes on without it.
ScopedHeldMutex AcquireInstallationLock();
