// A copy of the running program that carries exactly the given resources,
// loaded as a data file: lets tests and the benchmark extract from resource
// modules other than the running program.
#pragma once

#include <windows.h>

#include "platform/scoped_handle.h"

struct ResourceItem {
    const wchar_t* type;
    const wchar_t* name;
    const void* data;
    DWORD size;
};

// Copies the running program to path, replaces all its resources with items
// (language 1041) and loads the copy as a data file; an invalid module when
// any step fails.
ScopedModule LoadCopyWithResources(const wchar_t* path, const ResourceItem* items, size_t count);
