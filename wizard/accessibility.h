// What screen readers learn of the wizard beyond the controls' own texts: each
// page's title and message, read as a live region when the page changes, and
// names where a control's text or label would say the wrong thing. Annotations
// need the system's annotation service (oleacc); without one the controls say
// what their texts say, and the events are raised all the same.
#pragma once

#include <windows.h>

// When the dialog opens: the page title, the page message and the licence
// prompt become a polite live region, whose changes readers announce.
void MarkPageTextsLive(HWND dialog);

// Annotates `control` with its accessible name, and tells readers it changed.
void SetAccessibleName(HWND control, const wchar_t* name);

// After a page switch, once the dialog shows: the title, then the message or
// the licence prompt, whichever shows, announce their new texts.
void AnnouncePage(HWND dialog);

// When the dialog goes: its annotations go too, or a window that later gets
// one of its handles would inherit them.
void ClearAnnotations(HWND dialog);
