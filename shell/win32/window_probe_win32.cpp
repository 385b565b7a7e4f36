// Looks at a running program's windows from outside, for the end-to-end test
// under Wine. One action per run; its findings on standard output, one line
// each; exit status 0 when the action succeeded.
//   quillon_window_probe wait TITLE [visible|hidden|gone] [seconds]
//   quillon_window_probe texts TITLE          every control: id, class, state, text
//   quillon_window_probe command TITLE ID     posts the command (WM_COMMAND)
//   quillon_window_probe syscommand TITLE ID  posts the system command
//   quillon_window_probe page TITLE INDEX     chooses a page of the sheet
//   quillon_window_probe ctrltab TITLE        Ctrl+Tab in the window
//   quillon_window_probe tray TITLE [FILE.bmp] right-clicks the tray icon: TITLE's menu
//   quillon_window_probe windows -            every window: class, state, text
//   quillon_window_probe shot TITLE FILE.bmp  the window's picture ("-": desktop)
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace {

std::string Text(HWND window) {
    char buffer[1024] = {};
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer),
                        SMTO_ABORTIFHUNG, 2000, nullptr);
    return buffer;
}

std::string ClassOf(HWND window) {
    char name[128] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

// A control's own visibility, whatever its parents' is.
const char* Shown(HWND window) {
    return (GetWindowLongA(window, GWL_STYLE) & WS_VISIBLE) != 0 ? "visible" : "hidden";
}

BOOL CALLBACK PrintControl(HWND control, LPARAM) {
    std::string text = Text(control);
    for (char& c : text) {
        if (c == '\n' || c == '\r' || c == '\t') {
            c = ' ';
        }
    }
    const std::string kind = ClassOf(control);
    const bool checked =
        kind == "Button" && SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
    std::printf("%d\t%s\t%s\t%s%s\n", static_cast<int>(static_cast<short>(GetDlgCtrlID(control))),
                kind.c_str(), Shown(control), text.c_str(), checked ? "\tchecked" : "");
    return TRUE;
}

BOOL CALLBACK FindTabs(HWND control, LPARAM found) {
    if (ClassOf(control) == WC_TABCONTROLA) {
        *reinterpret_cast<HWND*>(found) = control;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK PrintTopLevel(HWND window, LPARAM) {
    std::printf("top\t%s\t%s\t%s\n", ClassOf(window).c_str(),
                IsWindowVisible(window) ? "visible" : "hidden", Text(window).c_str());
    EnumChildWindows(window, &PrintControl, 0);
    return TRUE;
}

int Wait(const char* title, const std::string& state, int seconds) {
    for (int i = 0; i < seconds * 10; ++i) {
        const HWND window = FindWindowA("#32770", title);
        const bool ok = state == "gone"      ? window == nullptr
                        : state == "visible" ? window != nullptr && IsWindowVisible(window)
                        : state == "hidden"  ? window != nullptr && !IsWindowVisible(window)
                                             : window != nullptr;
        if (ok) {
            std::printf("%s\n", state.c_str());
            return 0;
        }
        Sleep(100);
    }
    std::printf("timeout\n");
    return 1;
}

struct ScreenDc {
    HDC dc = GetDC(nullptr);
    ~ScreenDc() { ReleaseDC(nullptr, dc); }
};
struct DcDeleter {
    void operator()(HDC dc) const { DeleteDC(dc); }
};
struct GdiDeleter {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
struct SelectedObject {
    HDC dc;
    HGDIOBJ previous;
    ~SelectedObject() { SelectObject(dc, previous); }
};

int ShotRect(const RECT& r, const char* file) {
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    const ScreenDc screen;
    const std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter> memory(
        CreateCompatibleDC(screen.dc));
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    const std::unique_ptr<std::remove_pointer_t<HBITMAP>, GdiDeleter> bitmap(
        CreateDIBSection(screen.dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!memory || !bitmap) {
        return 1;
    }
    const SelectedObject selected{memory.get(), SelectObject(memory.get(), bitmap.get())};
    BitBlt(memory.get(), 0, 0, width, height, screen.dc, r.left, r.top, SRCCOPY);
    GdiFlush();
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    const DWORD size = stride * static_cast<DWORD>(height);
    BITMAPFILEHEADER head{
        0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + size), 0,
        0, sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&head), sizeof head);
    out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
    out.write(static_cast<const char*>(bits), size);
    return out.good() ? 0 : 1;
}

int Shot(HWND window, const char* file) {
    SetForegroundWindow(window);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(500);
    RECT r{};
    GetWindowRect(window, &r);
    return ShotRect(r, file);
}

// Right-clicks the last icon of the taskbar's notification area, waits for
// the pop-up menu that it opens, optionally takes the corner's picture with
// the menu, and closes the menu again.
int TrayMenu(HWND owner, const char* file) {
    const HWND tray = FindWindowA("Shell_TrayWnd", nullptr);
    if (tray == nullptr) {
        std::printf("no tray\n");
        return 1;
    }
    RECT bar{};
    GetWindowRect(tray, &bar);
    // The taskbar may still be taking the icon in: a few tries.
    HWND popup = nullptr;
    for (int attempt = 0; attempt < 10 && popup == nullptr; ++attempt) {
        SetCursorPos(bar.right - 10, (bar.top + bar.bottom) / 2);
        Sleep(200);
        mouse_event(MOUSEEVENTF_RIGHTDOWN, 0, 0, 0, 0);
        mouse_event(MOUSEEVENTF_RIGHTUP, 0, 0, 0, 0);
        for (int i = 0; i < 10; ++i) {
            Sleep(100);
            const HWND found = FindWindowA("#32768", nullptr);
            if (found != nullptr && IsWindowVisible(found)) {
                popup = found;
                break;
            }
        }
    }
    if (popup == nullptr) {
        std::printf("no menu\n");
        return 1;
    }
    RECT menu{};
    GetWindowRect(popup, &menu);
    std::printf("menu\t%ld\t%ld\t%ld\t%ld\n", menu.left, menu.top, menu.right - menu.left,
                menu.bottom - menu.top);
    int result = 0;
    if (file != nullptr) {
        Sleep(300);
        RECT corner{menu.left - 8, menu.top - 8, bar.right, bar.bottom};
        result = ShotRect(corner, file);
    }
    // The program does not take the foreground for its menu, so neither keys
    // nor clicks elsewhere reach it: its owner is told to cancel it.
    PostMessageA(owner, WM_CANCELMODE, 0, 0);
    for (int i = 0; i < 30 && IsWindowVisible(popup); ++i) {
        Sleep(100);
    }
    if (IsWindowVisible(popup)) {
        std::printf("menu stays open\n");
        return 1;
    }
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: quillon_window_probe ACTION TITLE [ARGS]\n");
        return 2;
    }
    const std::string action = argv[1];
    const char* title = argv[2];
    if (action == "windows") {
        EnumWindows(&PrintTopLevel, 0);
        return 0;
    }
    if (action == "wait") {
        return Wait(title, argc > 3 ? argv[3] : "exists", argc > 4 ? std::atoi(argv[4]) : 30);
    }
    // "-" names the desktop itself.
    // A dialog: Wine's tray tooltip carries the same title.
    const HWND window =
        std::strcmp(title, "-") == 0 ? GetDesktopWindow() : FindWindowA("#32770", title);
    if (window == nullptr) {
        std::printf("no window\n");
        return 1;
    }
    if (action == "tray") {
        return TrayMenu(window, argc > 3 ? argv[3] : nullptr);
    }
    if (action == "texts") {
        std::printf("0\twindow\t%s\t%s\n", IsWindowVisible(window) ? "visible" : "hidden",
                    Text(window).c_str());
        EnumChildWindows(window, &PrintControl, 0);
        return 0;
    }
    if (action == "command" && argc > 3) {
        return PostMessageA(window, WM_COMMAND, static_cast<WPARAM>(std::atoi(argv[3])), 0) ? 0 : 1;
    }
    if (action == "syscommand" && argc > 3) {
        return PostMessageA(window, WM_SYSCOMMAND, static_cast<WPARAM>(std::atoi(argv[3])), 0) ? 0
                                                                                               : 1;
    }
    if (action == "ctrltab") {
        // Into the window, then Ctrl+Tab as the keyboard would send it.
        SetForegroundWindow(window);
        Sleep(300);
        keybd_event(VK_CONTROL, 0, 0, 0);
        keybd_event(VK_TAB, 0, 0, 0);
        keybd_event(VK_TAB, 0, KEYEVENTF_KEYUP, 0);
        keybd_event(VK_CONTROL, 0, KEYEVENTF_KEYUP, 0);
        Sleep(500);
        return 0;
    }
    if (action == "page" && argc > 3) {
        HWND tabs = nullptr;
        EnumChildWindows(window, &FindTabs, reinterpret_cast<LPARAM>(&tabs));
        if (tabs == nullptr) {
            return 1;
        }
        SendMessageA(GetParent(tabs), PSM_SETCURSEL, static_cast<WPARAM>(std::atoi(argv[3])), 0);
        return 0;
    }
    if (action == "shot" && argc > 3) {
        return Shot(window, argv[3]);
    }
    return 2;
}
