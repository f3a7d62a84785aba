// Screenshots of what a user sees, saved as BMP from the screen itself (so a
// message box over the wizard shows too); the test command turns them into PNG.
#include <cstdio>

#include "testbed/driver.h"

namespace {

bool WriteBitmap(const std::wstring& path, HDC source, const RECT& area) {
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (width <= 0 || height <= 0) {
        return false;
    }
    HDC memory = CreateCompatibleDC(source);
    HBITMAP bitmap = CreateCompatibleBitmap(source, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, source, area.left, area.top, SRCCOPY);
    SelectObject(memory, previous);

    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(header);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    header.biSizeImage = stride * static_cast<DWORD>(height);
    std::string pixels(header.biSizeImage, '\0');
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), &pixels[0],
              reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);

    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(header);
    file.bfSize = file.bfOffBits + header.biSizeImage;
    FILE* out = _wfopen(path.c_str(), L"wb");
    if (out == nullptr) {
        return false;
    }
    fwrite(&file, sizeof(file), 1, out);
    fwrite(&header, sizeof(header), 1, out);
    fwrite(pixels.data(), 1, pixels.size(), out);
    fclose(out);
    return true;
}

}  // namespace

void SaveScreenshot(HWND window, const std::wstring& name) {
    const std::wstring folder = BuildPath(L"screenshots");
    CreateDirectoryW(folder.c_str(), nullptr);
    RECT area;
    if (window == nullptr || !GetWindowRect(window, &area)) {
        area = RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    }
    // Let the last change paint before the pixels are read.
    if (window != nullptr) {
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    }
    Sleep(300);
    // Tests running side by side may save the same view: each writes a file of
    // its own and renames it over the name, which so never holds a mix of two.
    wchar_t written[MAX_PATH];
    if (GetTempFileNameW(folder.c_str(), L"bmp", 0, written) == 0) {
        return;
    }
    HDC screen = GetDC(nullptr);
    const bool saved = WriteBitmap(written, screen, area);
    ReleaseDC(nullptr, screen);
    const std::wstring path = folder + L"\\" + name + L".bmp";
    if (!saved || !MoveFileExW(written, path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(written);
    }
}
