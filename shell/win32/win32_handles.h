// Owners for the Windows handles the views create: each one is released
// exactly once, when its owner goes.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

struct MenuDeleter {
    void operator()(HMENU menu) const { DestroyMenu(menu); }
};
struct IconDeleter {
    void operator()(HICON icon) const { DestroyIcon(icon); }
};
struct KernelHandleDeleter {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
struct GdiObjectDeleter {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
};

using MenuHandle = std::unique_ptr<std::remove_pointer_t<HMENU>, MenuDeleter>;
using IconHandle = std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter>;
using KernelHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, KernelHandleDeleter>;
using BitmapHandle = std::unique_ptr<std::remove_pointer_t<HBITMAP>, GdiObjectDeleter>;

// A window the owner destroys (unless it is already gone with its parent).
class WindowHandle {
public:
    WindowHandle() = default;
    explicit WindowHandle(HWND window) : m_window(window) {}
    ~WindowHandle() { Reset(); }
    WindowHandle(const WindowHandle&) = delete;
    WindowHandle& operator=(const WindowHandle&) = delete;

    HWND Get() const { return m_window; }
    void Reset(HWND window = nullptr) {
        if (m_window != nullptr && IsWindow(m_window)) {
            DestroyWindow(m_window);
        }
        m_window = window;
    }

private:
    HWND m_window = nullptr;
};

// The device context of a window's client area, given back on scope exit.
class WindowDc {
public:
    explicit WindowDc(HWND window) : m_window(window), m_dc(GetDC(window)) {}
    ~WindowDc() {
        if (m_dc != nullptr) {
            ReleaseDC(m_window, m_dc);
        }
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC Get() const { return m_dc; }

private:
    HWND m_window;
    HDC m_dc;
};

// Loads the program's icon at one size; the caller owns it.
IconHandle LoadIconAtSize(HINSTANCE instance, int id, int size);
