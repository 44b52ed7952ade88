// Shows the password dialog of the platform layer (resource 101 linked into
// this program) and reports what happened, for scripts/test-windows.sh, which
// answers the dialog with xdotool under Xvfb.
//   dialog_probe.exe [--owner] [--prefill TEXT]
//       --owner     first create a decoy window and one titled
//                   "Demo - Total Commander (x64)"; the dialog must be owned
//                   by the latter
//       --prefill   put TEXT into the password buffer before the prompt
//   dialog_probe.exe --foreign-window SECONDS
//       only hold a window titled "Total Commander" open for SECONDS, so
//       another process can check it is never taken as owner
// Prints key=value lines: result, password, owner (none/host/other), x, y
// (dialog position in pixels), screen_w, screen_h, focus_on_edit, caption.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace {

struct Observed {
    HWND dialog = nullptr;
    HWND owner = nullptr;
    RECT rect = {};
    bool focusOnEdit = false;
    char caption[128] = {};
};

Observed g_seen;
DWORD g_mainThread = 0;

// Watches from a second thread while the main thread sits in the modal loop.
DWORD WINAPI watch(void*) {
    for (int i = 0; i < 600; ++i) {
        HWND h = FindWindowA(nullptr, "Password required!");
        if (h) {
            // Let WM_INITDIALOG finish placing and focusing.
            Sleep(300);
            g_seen.dialog = h;
            g_seen.owner = GetWindow(h, GW_OWNER);
            GetWindowRect(h, &g_seen.rect);
            GetWindowTextA(h, g_seen.caption, sizeof g_seen.caption);
            GUITHREADINFO info = {};
            info.cbSize = sizeof info;
            if (GetGUIThreadInfo(g_mainThread, &info))
                g_seen.focusOnEdit = info.hwndFocus == GetDlgItem(h, 1000);
            return 0;
        }
        Sleep(50);
    }
    return 0;
}

HWND makeWindow(const char* title) {
    return CreateWindowExA(0, "STATIC", title, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                           nullptr, GetModuleHandleA(nullptr), nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    bool owner = false;
    std::string prefill;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--owner") == 0) {
            owner = true;
        } else if (std::strcmp(argv[i], "--prefill") == 0 && i + 1 < argc) {
            prefill = argv[++i];
        } else if (std::strcmp(argv[i], "--foreign-window") == 0 && i + 1 < argc) {
            HWND w = makeWindow("Total Commander");
            std::printf("foreign=%s\n", w ? "up" : "failed");
            std::fflush(stdout);
            DWORD until = GetTickCount() + DWORD(std::atoi(argv[++i])) * 1000;
            MSG msg;
            while (GetTickCount() < until) {
                while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
                Sleep(20);
            }
            return 0;
        } else {
            std::printf("unknown argument %s\n", argv[i]);
            return 2;
        }
    }

    platform::setModuleHandle(GetModuleHandleA(nullptr));
    platform::clearOwnerWindow();
    HWND host = nullptr;
    if (owner) {
        makeWindow("Notepad");
        host = makeWindow("Demo - Total Commander (x64)");
    }

    char buffer[80];
    std::memset(buffer, 0, sizeof buffer);
    std::strncpy(buffer, prefill.c_str(), sizeof buffer - 1);

    g_mainThread = GetCurrentThreadId();
    HANDLE watcher = CreateThread(nullptr, 0, watch, nullptr, 0, nullptr);
    int result = platform::promptPassword(buffer);
    WaitForSingleObject(watcher, 5000);
    CloseHandle(watcher);

    std::printf("result=%d\n", result);
    std::printf("password=%s\n", buffer);
    std::printf("password_length=%u\n", unsigned(std::strlen(buffer)));
    std::printf("seen=%d\n", g_seen.dialog != nullptr);
    std::printf("caption=%s\n", g_seen.caption);
    std::printf("owner=%s\n", g_seen.owner == nullptr ? "none" : g_seen.owner == host ? "host" : "other");
    std::printf("x=%ld\ny=%ld\n", g_seen.rect.left, g_seen.rect.top);
    std::printf("screen_w=%d\nscreen_h=%d\n", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    std::printf("focus_on_edit=%d\n", g_seen.focusOnEdit);
    return 0;
}
