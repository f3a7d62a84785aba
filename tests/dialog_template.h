// Reads an extended dialog template (DLGTEMPLATEEX) into plain values, so a
// test can compare the built resource with the wizard's intended layout.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct DialogItem {
    DWORD helpId = 0;
    DWORD exStyle = 0;
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    LONG id = 0;
    std::wstring className;  // ordinals mapped to their names ("Button", "Static")
    std::wstring text;       // an ordinal text as "#119"
};

struct DialogTemplate {
    WORD version = 0;
    WORD signature = 0;
    DWORD helpId = 0;
    DWORD exStyle = 0;
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring menu, className, caption, fontFace;
    WORD pointSize = 0, weight = 0;
    BYTE italic = 0, charset = 0;
    std::vector<DialogItem> items;
};

// False when the bytes are not a well-formed extended template.
bool ParseDialogTemplate(const BYTE* data, size_t size, DialogTemplate* out);
