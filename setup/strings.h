// Loads texts from the program's string table (language 1041).
#pragma once

#include <cstddef>

constexpr size_t kMessageTextChars = 1024;
constexpr size_t kProductNameChars = 32;

// Loads string id into the one shared message text buffer; valid until the
// next load. A missing string shows a warning box and yields "".
const wchar_t* LoadMessageText(unsigned id);

// String 103, reloaded into its own 32-character buffer on every request.
const wchar_t* ProductDisplayName();
