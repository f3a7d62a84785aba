// Clears the way for an installation: finds an earlier one of the product, by
// its uninstall entry or at the default folder, and removes it.
#pragma once

// True when nothing was there or the earlier installation was removed; false
// when it could not be read safely or not be removed (the install then stops).
bool RemovePreviousInstallation();
