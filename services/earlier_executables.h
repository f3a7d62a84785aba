// The earlier service executables, kept from the removal until the new ones
// run, in a private folder that only administrators write: the protection
// when a new executable cannot be put in place. The folder is listed in the
// run journal from the moment it is made until it is gone, so that the run
// after one that died finds it.
#pragma once

#include "platform/text_format.h"

// What the private folders beside an old install folder are named after.
constexpr wchar_t kAsideFolderPrefix[] = L"pvo";

// At a run's start: takes over the folder a run that died left listed. True
// when there was one: that run may have left a service stopped.
bool AdoptEarlierExecutables();

// This run's folder (made, or taken over); empty when there is none.
const wchar_t* EarlierExecutablesFolder();

// Lists asideFolder as where the earlier executables wait.
void KeepEarlierExecutables(const wchar_t* asideFolder);

// Whether an earlier executable of fileName waits aside that is another file
// than the one at path.
bool EarlierExecutableWaits(const wchar_t* fileName, const wchar_t* path);

// Moves the earlier executable of fileName over target, written through.
bool PutEarlierExecutableAt(const wchar_t* fileName, const wchar_t* target);

// Deletes what waits in the folder, the folder, and its parent when that is
// now empty (now, or at the next restart), and unlists it.
void DiscardEarlierExecutables();
