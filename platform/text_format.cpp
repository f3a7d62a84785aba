#include "platform/text_format.h"

#include <cstdio>
#include <cwchar>

bool FormatTextV(wchar_t* out, size_t capacity, const wchar_t* format, va_list args) {
    if (capacity == 0) {
        return false;
    }
    // msvcrt's _vsnwprintf returns -1 on overflow and then leaves no terminator.
    const int written = _vsnwprintf(out, capacity, format, args);
    if (written < 0 || static_cast<size_t>(written) >= capacity) {
        out[0] = L'\0';
        return false;
    }
    out[written] = L'\0';
    return true;
}

bool FormatText(wchar_t* out, size_t capacity, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    const bool fitted = FormatTextV(out, capacity, format, args);
    va_end(args);
    return fitted;
}

bool JoinPath(wchar_t* out, size_t capacity, const wchar_t* folder, const wchar_t* name) {
    return FormatText(out, capacity, L"%s\\%s", folder, name);
}

bool AppendText(wchar_t* out, size_t capacity, const wchar_t* text) {
    const size_t used = wcslen(out);
    const size_t adding = wcslen(text);
    if (used + adding >= capacity) {
        return false;
    }
    wmemcpy(out + used, text, adding + 1);
    return true;
}
