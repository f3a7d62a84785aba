// The two finishing actions: starting the installed application as the
// desktop's user, and putting the install log on the clipboard.
#pragma once

#include <windows.h>

// Starts `applicationPath` with a primary token duplicated from the process that
// owns the shell window, so it does not inherit setup's elevation. On failure
// returns false with the failing call's error as the thread's last error.
bool LaunchAsDesktopUser(const wchar_t* applicationPath);

// Puts `text` on the clipboard as CF_UNICODETEXT, replacing its whole content;
// `owner` becomes the clipboard's owner.
bool CopyTextToClipboard(HWND owner, const wchar_t* text);

// Bytes of the clipboard block for `text`: its UTF-16 characters and terminator.
SIZE_T ClipboardBlockBytes(const wchar_t* text);
