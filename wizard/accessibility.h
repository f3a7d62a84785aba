// What screen readers learn of the wizard beyond the controls' own texts: each
// page's title and message, and names where a control's text or label would
// say the wrong thing. Annotations need the system's annotation service
// (oleacc); without one the controls say what their texts say.
#pragma once

#include <windows.h>

// Annotates `control` with its accessible name.
void SetAccessibleName(HWND control, const wchar_t* name);

// After a page switch: the page's title and message become the accessible
// description of the control with the focus (with none, of the page message),
// replacing the previous page's, and that control's focus event (the
// message's alert) has screen readers read it, also where the focus stayed.
void AnnouncePage(HWND dialog);
