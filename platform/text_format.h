// printf-style formatting into fixed wide buffers that refuses to truncate:
// a result that would not fit leaves an empty string and reports false.
#pragma once

#include <cstdarg>
#include <cstddef>

// Buffer sizes of the system, in characters including the terminator.
constexpr size_t kPathChars = 260;
constexpr size_t kNameChars = 256;

bool FormatTextV(wchar_t* out, size_t capacity, const wchar_t* format, va_list args);
bool FormatText(wchar_t* out, size_t capacity, const wchar_t* format, ...);

template <size_t N>
bool FormatText(wchar_t (&out)[N], const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    const bool fitted = FormatTextV(out, N, format, args);
    va_end(args);
    return fitted;
}

// folder + "\" + name; false (and an empty result) when it would not fit.
bool JoinPath(wchar_t* out, size_t capacity, const wchar_t* folder, const wchar_t* name);

template <size_t N>
bool JoinPath(wchar_t (&out)[N], const wchar_t* folder, const wchar_t* name) {
    return JoinPath(out, N, folder, name);
}

// Appends text to a terminated buffer; false (buffer unchanged) when it would not fit.
bool AppendText(wchar_t* out, size_t capacity, const wchar_t* text);
