// What the rich-text viewer shows: the licence as formatted rich text, the
// install log as plain text.
#pragma once

#include <windows.h>

// Streams the file's bytes into the viewer as RTF (Rich Edit parses RTF only
// when it is streamed in, not when it is inserted as a selection). A file that
// cannot be opened leaves the viewer as it was; an empty file empties it.
void ShowRichTextFile(HWND viewer, const wchar_t* path);

// Replaces the viewer's content with `text` as plain text and shows its beginning.
void ShowPlainText(HWND viewer, const wchar_t* text);
