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

using MenuHandle = std::unique_ptr<std::remove_pointer_t<HMENU>, MenuDeleter>;
using IconHandle = std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter>;
using KernelHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, KernelHandleDeleter>;

// Loads the program's icon at one size; the caller owns it.
IconHandle LoadIconAtSize(HINSTANCE instance, int id, int size);
