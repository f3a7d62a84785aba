// The earlier service executables, kept from the removal until the new ones
// run, in a private folder that only administrators write: the protection
// when a new executable cannot be put in place. The folder is listed in the
// run journal before it is made and until it is gone, with its identity once
// made, so that the run after one that died finds it; it is only ever reached
// as the folder setup made, never through a link.
#pragma once

#include "platform/link_guard.h"
#include "platform/text_format.h"

// What the private folders are named after.
constexpr wchar_t kAsideFolderPrefix[] = L"pvo";

// At a run's start: takes over the folder a run that died left listed. True
// when there was one: that run may have left a service stopped.
bool AdoptEarlierExecutables();

// Makes this run's folder inside parent, private, listed before it exists;
// held open in *folder. False with the last error set, nothing listed.
bool MakeEarlierExecutablesFolder(const wchar_t* parent, HeldFolder* folder);

// Opens this run's folder, or the one taken over, as setup made it: its
// recorded identity matches (without one, a run died before recording it,
// only under the maker folder). False otherwise, with the last error set.
bool OpenEarlierExecutablesFolder(HeldFolder* folder);

// Whether an earlier executable of fileName waits aside that is another file
// than the one at path.
bool EarlierExecutableWaits(const wchar_t* fileName, const wchar_t* path);

// Copies the earlier executable of fileName over folder\fileName, written
// through; the copy takes the folder's security.
bool PutEarlierExecutableIn(const wchar_t* fileName, const wchar_t* folder);

// Deletes what waits in the folder, the folder, and its parent when that is
// now empty, and unlists it; a folder that cannot be emptied yet stays listed
// for the next run. One that is not the folder setup made is left alone,
// named in the log, and unlisted.
void DiscardEarlierExecutables();
