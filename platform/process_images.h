// The running processes' image files, as far as the caller may query them.
#pragma once

#include <windows.h>

// Whether a process of any session runs an image directly in `folder` whose
// file name `isWanted` accepts. Paths are compared as the file system names
// them: letter case, "/" for "\" and short names make no difference.
// A process the caller may not query counts when `isWanted` accepts its
// image file name: it may run from the folder.
bool AnyProcessRunsFrom(const wchar_t* folder, bool (*isWanted)(const wchar_t* fileName));
