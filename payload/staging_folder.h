// The staging folder: a new private folder under the user's temporary folder
// that holds the extracted payload until the program ends.
#pragma once

#include "platform/scoped_handle.h"
#include "platform/text_format.h"

// Makes a new folder named like uas1A2B.tmp under the temporary folder, with a
// DACL of its own, stores its path in g_stagingFolderPath and holds it open so
// that it cannot be renamed away. False when the folder could not be made new
// or a module path in it would not fit its buffer; the path stays empty unless
// the folder was made.
bool CreateStagingFolder();

// The staging folder path, "\" unless it already ends in one, and fileName.
// False (and an empty result) when the path would not fit.
bool StagingPathOf(const wchar_t* fileName, wchar_t (&out)[kPathChars]);

// Deletes every module's staging file, then the folder if it is empty.
// Does nothing when no staging folder was created.
void RemoveStagingFolder();
