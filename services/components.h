// Walks of the component table: install, remove and look up the product's services.
#pragma once

#include "platform/text_format.h"

// Creates and starts every applicable service in table order from the install
// folder; stops at the first failure, logging it. What was installed stays.
bool InstallComponents();

// Stops and deletes every applicable service; logs each one that could not be
// removed and goes on. Always true.
bool RemoveComponents();

// True when the service manager knows at least one applicable service.
bool AnyComponentRegistered();

// Install folder + "\" + file name; false, and no path, when it would not fit.
bool ComponentExecutablePath(const wchar_t* folder, const wchar_t* fileName,
                             wchar_t (&path)[kPathChars]);
