// Where an installation lives: the maker and product folders under Program Files
// and the two shortcuts named after the product. Used by the install worker and
// by the removal of an earlier installation.
#pragma once

#include "platform/text_format.h"

// Each fills a 260-character buffer and returns false, leaving it empty, when
// the folder cannot be obtained or the joined path would not fit.
bool GetMakerFolderPath(wchar_t (&path)[kPathChars]);
bool GetProductFolderPath(wchar_t (&path)[kPathChars]);
bool GetStartMenuShortcutPath(wchar_t (&path)[kPathChars]);
bool GetDesktopShortcutPath(wchar_t (&path)[kPathChars]);

// The same two shortcuts under another name: an earlier installation's, which
// its uninstall entry names.
bool GetStartMenuShortcutPath(const wchar_t* shortcutName, wchar_t (&path)[kPathChars]);
bool GetDesktopShortcutPath(const wchar_t* shortcutName, wchar_t (&path)[kPathChars]);
