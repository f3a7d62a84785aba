// Shell shortcuts to the installed application.
#pragma once

#include <windows.h>

// Saves a shell link at linkPath whose only property is its target; an existing
// link file is overwritten. True exactly when the save reported S_OK; on
// failure the last error is the failing step's (the Win32 error its HRESULT
// carries, else the HRESULT).
bool CreateShortcut(const wchar_t* linkPath, const wchar_t* targetPath);

// The outcome of IPersistFile::Save as create shortcut counts it: a success code
// other than S_OK (S_FALSE) is no proof that the file was written.
int ShortcutResultOf(HRESULT saveResult);
