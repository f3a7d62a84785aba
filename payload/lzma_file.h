// Decoding of a file that holds one LZMA-alone stream into a plain file,
// also in place.
#pragma once

#include "platform/text_format.h"

// Name of the temporary output of the current in-place decode; one buffer for
// the process, so decodes must not run in parallel.
extern wchar_t g_temporaryOutputName[kPathChars];

// Decodes sourcePath into destinationPath; the two may name the same file in
// any letter case, and the decode then goes through a temporary file in the
// source's own folder. On failure no partial output is left behind and the
// source is unchanged.
bool DecodeFile(const wchar_t* sourcePath, const wchar_t* destinationPath);
