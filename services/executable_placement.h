// A new service executable reaches the install folder whole: written under a
// name of its own beside its final one, flushed, compared with the staged
// file, then renamed over the final name in one step. A restart at any moment
// finds either the earlier file or the whole new one at the registered path.
#pragma once

#include <windows.h>

#include "platform/text_format.h"

// Appended to the final name while the new file is not in place yet.
constexpr wchar_t kUnplacedSuffix[] = L".new";

// Whether name is such a file: setup's own, never part of an installation.
bool IsUnplacedExecutableName(const wchar_t* name);

// Whether path holds exactly the bytes of the staged module fileName; a torn,
// empty or other file does not.
bool IsWholeNewExecutable(const wchar_t* path, const wchar_t* fileName);

// Writes the staged module fileName into folder under its unplaced name,
// flushed to the disk and checked whole. False with the last error set.
bool WriteUnplacedExecutable(const wchar_t* folder, const wchar_t* fileName);

// Renames the unplaced file over folder\fileName, written through; writes it
// first when it is not whole. False with the last error set.
bool PlaceNewExecutable(const wchar_t* folder, const wchar_t* fileName);

// Copies the opened source under the unplaced name of fileName in folder,
// flushed, and renames it over the final name, written through. The copy takes
// the folder's security. False with the last error set.
bool PlaceCopyOf(HANDLE source, const wchar_t* folder, const wchar_t* fileName);

// folder\fileName whole and new: as it is, or placed. False with the last error.
bool PutWholeExecutableInPlace(const wchar_t* folder, const wchar_t* fileName);

// Deletes the unplaced file of fileName in folder that a failure or a run
// that died left.
void DiscardUnplacedExecutable(const wchar_t* folder, const wchar_t* fileName);
