#include "wizard/viewer_text.h"

#include <richedit.h>

#include <cstdio>
#include <memory>

#include "setup/install_log.h"

namespace {

// Rich Edit's default limit is 32,767 characters; the viewer takes a whole install log.
constexpr LPARAM kViewerTextLimit = static_cast<LPARAM>(kInstallLogChars);

struct FileCloser {
    void operator()(FILE* file) const { fclose(file); }
};
using ScopedCFile = std::unique_ptr<FILE, FileCloser>;

DWORD CALLBACK ReadFromFile(DWORD_PTR cookie, LPBYTE buffer, LONG wanted, LONG* got) {
    FILE* file = reinterpret_cast<FILE*>(cookie);
    *got = static_cast<LONG>(fread(buffer, 1, static_cast<size_t>(wanted), file));
    return ferror(file) != 0 ? 1 : 0;
}

void ShowBeginning(HWND viewer) {
    SendMessageW(viewer, EM_SETSEL, 0, 0);
}

}  // namespace

void ShowRichTextFile(HWND viewer, const wchar_t* path) {
    ScopedCFile file(_wfopen(path, L"rb"));
    if (!file) {
        return;
    }
    SendMessageW(viewer, EM_EXLIMITTEXT, 0, kViewerTextLimit);
    EDITSTREAM stream = {};
    stream.dwCookie = reinterpret_cast<DWORD_PTR>(file.get());
    stream.pfnCallback = ReadFromFile;
    SendMessageW(viewer, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
    ShowBeginning(viewer);
}

void ShowPlainText(HWND viewer, const wchar_t* text) {
    SendMessageW(viewer, EM_EXLIMITTEXT, 0, kViewerTextLimit);
    SetWindowTextW(viewer, L"");
    SendMessageW(viewer, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
    ShowBeginning(viewer);
}
