// The wizard and the end of the Windows session: the install worker must not
// be cut off, and Windows shows the user why the session waits for it.
#pragma once

#include <windows.h>

// Gives Windows the reason to show while the session waits for the worker.
void ShowSessionEndReason(HWND dialog);

// Takes the reason back once the worker has ended.
void ClearSessionEndReason(HWND dialog);
