// Removes one earlier installation, step by step in a fixed order; what a step
// removed before a later failure stays removed.
#pragma once

#include "services/uninstall_command.h"

// Services, shortcuts, the files and folder of the old install folder, the data
// folders and the uninstall entry. False, after logging, when the old install
// folder stays or the entry cannot be deleted; false without a line when the
// Uninstall key cannot be opened. The product's settings keys are not touched.
// beforeFirstStop (when given) is the caller's last check before the services
// stop; its false ends the removal with nothing changed.
bool RunRemovalSequence(const RemovalContext& context, bool (*beforeFirstStop)());
