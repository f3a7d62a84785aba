// Extraction of the payload modules from the program's resources into the
// staging folder, where the wizard and the install worker find them.
#pragma once

#include <windows.h>

#include "payload/module_digest.h"
#include "payload/staging_folder.h"

// Creates the staging folder and checks, extracts and decodes every module of
// the table from the program's own resources; false at the first failed row.
// The caller removes the staging folder afterwards in either case.
bool ExtractPayload();

// The same, with the modules and their digests taken from module.
bool ExtractPayloadFrom(HMODULE module);

// Writes the packed bytes of the "MODULE" resource resourceName of module to
// the staging path of fileName, in one write straight from the resource, once
// they are found to have the expected digest; otherwise writes nothing.
bool WriteModuleResource(HMODULE module, const wchar_t* fileName, const wchar_t* resourceName,
                         HCRYPTPROV provider, const unsigned char (&digest)[kDigestBytes]);
