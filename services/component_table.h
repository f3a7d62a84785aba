// The product's Windows services, one constant row each, always walked in order.
#pragma once

#include <cstddef>

enum ComponentKind : int {
    kComponentService = 0,
};

struct ComponentRow {
    int kind;
    int processorCondition;  // 0 every computer, 1 x86 only, 2 x64 only
    int reserved;
    const wchar_t* fileName;     // the service's executable in the install folder
    const wchar_t* serviceName;  // also its display name
};

constexpr size_t kComponentCount = 2;
extern const ComponentRow kComponentTable[kComponentCount];

// True when the row's processor condition fits this computer.
bool ComponentApplies(const ComponentRow& row);
