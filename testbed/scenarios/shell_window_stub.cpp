// Test program: makes its one window the desktop's shell window while it runs,
// so that GetShellWindow answers in other processes (Wine has no desktop shell).
// Ends when its window is closed.
#include <windows.h>

namespace {

const wchar_t kClassName[] = L"PortvaneTestShell";

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// SetShellWindow is undocumented and not declared by the headers.
bool BecomeShellWindow(HWND window) {
    using SetShellWindowFunction = BOOL(WINAPI*)(HWND);
    auto setShellWindow = reinterpret_cast<SetShellWindowFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32"), "SetShellWindow")));
    return setShellWindow != nullptr && setShellWindow(window) != FALSE;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kClassName;
    if (RegisterClassW(&windowClass) == 0) {
        return 1;
    }
    HWND window = CreateWindowExW(0, kClassName, L"Portvane test shell", WS_POPUP, 0, 0, 1, 1,
                                  nullptr, nullptr, instance, nullptr);
    if (window == nullptr || !BecomeShellWindow(window)) {
        return 1;
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
    return 0;
}
