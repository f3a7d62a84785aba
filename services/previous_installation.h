// Clears the way for an installation: finds an earlier one of the product, by
// its uninstall entry or at the default folder, and removes it.
#pragma once

#include "platform/text_format.h"

// True when nothing was there or the earlier installation was removed; false
// when it could not be read safely or not be removed (the install then stops).
// beforeFirstStop, when given, runs once an earlier installation is found and
// checked, just before its services stop; its false refuses the removal with
// nothing changed.
bool RemovePreviousInstallation(bool (*beforeFirstStop)() = nullptr);

// The folder of the earlier installation: the one its uninstall entry names,
// or the default product folder when there is no entry or it cannot be read.
// False when neither is known.
bool FindPreviousInstallFolder(wchar_t (&folder)[kPathChars]);
