#include "dialog_win32.h"

#include "resource_ids.h"

INT_PTR CDialogWin32::RunModal(HWND owner) {
    return DialogBoxParamA(m_instance, MAKEINTRESOURCEA(m_template), owner, &ModalProc,
                           reinterpret_cast<LPARAM>(this));
}

PROPSHEETPAGEA CDialogWin32::PageRecord() {
    PROPSHEETPAGEA page{};
    page.dwSize = sizeof page;
    page.dwFlags = PSP_DEFAULT;
    page.hInstance = m_instance;
    page.pszTemplate = MAKEINTRESOURCEA(m_template);
    page.pfnDlgProc = &PageProc;
    page.lParam = reinterpret_cast<LPARAM>(this);
    return page;
}

std::string CDialogWin32::ItemText(int id) const {
    const HWND item = GetDlgItem(m_window, id);
    std::string text(static_cast<std::size_t>(GetWindowTextLengthA(item)) + 1, '\0');
    text.resize(
        static_cast<std::size_t>(GetWindowTextA(item, text.data(), static_cast<int>(text.size()))));
    return text;
}

void CDialogWin32::OnCommand(int id, int, HWND) {
    // OK and Cancel end a modal dialog with their id; a page ignores them.
    if ((id == IDOK || id == IDCANCEL) && (GetWindowLongA(m_window, GWL_STYLE) & WS_CHILD) == 0) {
        EndDialog(m_window, id);
    }
}

INT_PTR CALLBACK CDialogWin32::ModalProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<CDialogWin32*>(lParam);
        self->m_window = window;
        SetWindowLongPtrA(window, DWLP_USER, lParam);
    }
    auto* self = reinterpret_cast<CDialogWin32*>(GetWindowLongPtrA(window, DWLP_USER));
    return self != nullptr ? self->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR CALLBACK CDialogWin32::PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        // The sheet hands over its copy of the page record.
        const LPARAM object = reinterpret_cast<const PROPSHEETPAGEA*>(lParam)->lParam;
        reinterpret_cast<CDialogWin32*>(object)->m_window = window;
        SetWindowLongPtrA(window, DWLP_USER, object);
    }
    auto* self = reinterpret_cast<CDialogWin32*>(GetWindowLongPtrA(window, DWLP_USER));
    return self != nullptr ? self->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR CDialogWin32::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog() ? TRUE : FALSE;
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
            return TRUE;
        case WM_NCDESTROY:
            SetWindowLongPtrA(m_window, DWLP_USER, 0);
            m_window = nullptr;
            return FALSE;
        default: {
            INT_PTR result = FALSE;
            return OnMessage(message, wParam, lParam, result) ? result : FALSE;
        }
    }
}

CAboutDialog::CAboutDialog(HINSTANCE instance) : CDialogWin32(instance, IDD_ABOUTBOX) {}
