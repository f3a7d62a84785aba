// Opening of the wizard dialog (theme, place, icons, caption, title font, header
// picture, live page texts, welcome page, licence, first check states), its
// closing, and the page title's colour.
#pragma once

#include <windows.h>

// WM_INITDIALOG's work; the dialog window is published as the last step.
void OpenWizardDialog(HWND dialog);

// WM_DESTROY's work: clears the annotations and takes back the header picture's bitmap.
void CloseWizardDialog(HWND dialog);

// WM_CTLCOLORSTATIC: the white brush for the page title (the system's window
// colours in high contrast), 0 for every other control.
INT_PTR TitleColourBrush(HWND dialog, HWND control, HDC dc);

// Centres `dialog` on `reference`, then pulls it onto `screen`; the left and top
// edges win when the dialog is larger than the screen.
RECT CentredDialogRect(const RECT& reference, const RECT& dialog, const RECT& screen);

// The title font is 1.4 times the dialog font, truncated toward zero.
LONG TitleFontHeight(LONG dialogFontHeight);

// Themed dialog textures exist from version 5.1 on.
bool IsThemedDialogVersion(unsigned long major, unsigned long minor);
