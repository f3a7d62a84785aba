// What the rich-text viewer shows: the licence as formatted rich text, the
// install log as plain text.
#pragma once

#include <windows.h>

// Streams the file's bytes into the viewer as RTF: Wine's Rich Edit shows RTF
// inserted as a selection as its source, while a stream renders on Windows and
// Wine alike. A file that cannot be opened leaves the viewer as it was; an
// empty file empties it.
void ShowRichTextFile(HWND viewer, const wchar_t* path);

// Replaces the viewer's content with `text` as plain text and shows its beginning.
void ShowPlainText(HWND viewer, const wchar_t* text);
