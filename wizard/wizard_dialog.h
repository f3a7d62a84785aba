// The wizard's dialog procedure, run modally from dialog template IDD_WIZARD.
#pragma once

#include <windows.h>

INT_PTR CALLBACK WizardDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
