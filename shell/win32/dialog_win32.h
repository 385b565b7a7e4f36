// A dialog from a template of quillon.rc whose messages go to a C++ object:
// run modally, or as a page of the configuration sheet.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <string>

class CDialogWin32 {
public:
    CDialogWin32(HINSTANCE instance, int templateId)
        : m_instance(instance), m_template(templateId) {}
    virtual ~CDialogWin32() = default;
    CDialogWin32(const CDialogWin32&) = delete;
    CDialogWin32& operator=(const CDialogWin32&) = delete;

    // Runs the dialog modally over `owner`; its end result, or -1 when it
    // could not be shown.
    INT_PTR RunModal(HWND owner);
    // The page record of the sheet: the template and this object.
    PROPSHEETPAGEA PageRecord();

    HWND Window() const { return m_window; }
    HINSTANCE Instance() const { return m_instance; }
    std::string ItemText(int id) const;

protected:
    // WM_INITDIALOG: true lets the dialog manager set the focus.
    virtual bool OnInitDialog() { return true; }
    virtual void OnCommand(int id, int code, HWND control);
    // Anything else; true when handled.
    virtual bool OnMessage(UINT, WPARAM, LPARAM, INT_PTR&) { return false; }

private:
    static INT_PTR CALLBACK ModalProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);

    HINSTANCE m_instance;
    int m_template;
    HWND m_window = nullptr;
};

// Dialog 100: the logo, two lines of text and OK.
class CAboutDialog final : public CDialogWin32 {
public:
    explicit CAboutDialog(HINSTANCE instance);
};
