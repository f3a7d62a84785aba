// Reading an earlier installation's uninstall command: the text of its
// "UninstallString" and what the removal takes from its three arguments.
// Plain text work, apart from the registry and the file system.
#pragma once

#include "platform/text_format.h"

constexpr size_t kUninstallStringChars = 1024;  // 2,048 bytes

struct RemovalContext {
    wchar_t oldInstallFolder[kPathChars];
    wchar_t uninstallKeyName[kNameChars];
    wchar_t shortcutName[kNameChars];
};

// Terminates text after a read of dataBytes into it. A value that fills the whole
// buffer without a terminator is refused (false) rather than cut.
bool TerminateUninstallString(wchar_t (&text)[kUninstallStringChars], unsigned long dataBytes);

// Drive and folder of a path, without one trailing "\\" or "/":
// C:\Program Files (x86)\ORBEK\Portvane\Uninst.exe -> C:\Program Files (x86)\ORBEK\Portvane.
// False when the path cannot be split or the folder would not fit.
bool FolderOfPath(const wchar_t* path, wchar_t (&folder)[kPathChars]);

// The folder cut at its last "\\" or "/"; false when it has none.
bool ParentFolder(const wchar_t* folder, wchar_t (&parent)[kPathChars]);

// True for a folder whose files may be deleted: a full path (drive or network
// share) below the root, with no empty, "." or ".." element. A drive or share
// root, an empty or a relative path would hit files that are not the product's.
bool IsRemovableFolder(const wchar_t* folder);

// Splits the command line into exactly three arguments (uninstaller path,
// uninstall key name, shortcut name) and fills the context from them. False when
// the count differs, a part would not fit its field, the uninstaller's folder is
// not removable, or a name would reach outside its key or folder.
bool ParseUninstallCommand(const wchar_t* commandLine, RemovalContext* context);
