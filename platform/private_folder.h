// Folders only administrators may write, made new and held: where the setup
// keeps files that a standard user must not swap.
#pragma once

#include <windows.h>

#include "platform/scoped_handle.h"

// Security of a private folder: full access for Administrators and SYSTEM,
// passed on to everything made inside, nothing inherited from the parent.
ScopedLocalMemory PrivateFolderDescriptor();

// Creates path as a new private folder and returns it held open without
// delete sharing; no handle, with the last error set, when anything of that
// name already exists.
ScopedFileHandle CreatePrivateFolder(const wchar_t* path);

// Gives the opened file (DELETE access is enough: it is reopened) the private
// security, as if it had been made in a private folder: a file renamed there
// keeps its own, which may let a standard user write it through its full path.
// False with the last error set.
bool MakeFilePrivate(HANDLE file);
