// The product files carried as payload modules, in the order of extraction,
// clean-up and copying.
#pragma once

#include <cstddef>

struct PayloadModule {
    const wchar_t* fileName;      // name in the staging and install folders
    const wchar_t* resourceName;  // name of its "MODULE" resource
};

constexpr size_t kModuleCount = 10;

// kModuleCount rows, then an empty row.
extern const PayloadModule kModuleTable[kModuleCount + 1];
