// Stand-in for the product's application and its tray program: it owns the
// product's named mutex and shows one window, so that setup's "already running"
// check and its launch of the installed application can be tested.
#include <windows.h>

#include "platform/scoped_handle.h"

namespace {

const wchar_t kWindowTitle[] = PV_WINDOW_TITLE;
const wchar_t kMutexName[] = PV_MUTEX_NAME;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool CreateMainWindow(HINSTANCE instance, int show) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kWindowTitle;
    if (RegisterClassExW(&windowClass) == 0) {
        return false;
    }
    HWND window = CreateWindowExW(0, kWindowTitle, kWindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 360, 200, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        return false;
    }
    ShowWindow(window, show);
    return true;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    ScopedKernelHandle mutex(CreateMutexW(nullptr, TRUE, kMutexName));
    if (!mutex) {
        return 1;
    }
    // One instance, like the product: a second start leaves the first one alone.
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        return 0;
    }
    if (!CreateMainWindow(instance, show)) {
        ReleaseMutex(mutex.get());
        return 1;
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    ReleaseMutex(mutex.get());
    return static_cast<int>(message.wParam);
}
