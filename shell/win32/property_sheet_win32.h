// The configuration sheet: a modeless property sheet living as a borderless
// child of the main window, its tabs one row of flat buttons, each page laid
// into the tab control's display area.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <vector>

class CExtChildResizablePropertySheet {
public:
    CExtChildResizablePropertySheet() = default;
    ~CExtChildResizablePropertySheet();
    CExtChildResizablePropertySheet(const CExtChildResizablePropertySheet&) = delete;
    CExtChildResizablePropertySheet& operator=(const CExtChildResizablePropertySheet&) = delete;

    // Applied once, at the first layout.
    void SetSingleLineTabs(bool on) { m_singleLine = on; }
    void SetButtonTabs(bool on) { m_buttons = on; }
    void SetFlatButtonTabs(bool on) { m_flatButtons = on; }
    void SetFlatSeparators(bool on) { m_flatSeparators = on; }
    // Where the pages begin, in pixels from the sheet's top: the tab buttons
    // grow to fill the strip above them. 0: as tall as their text needs.
    void SetPageTop(int pixels) { m_pageTop = pixels; }
    // In tab order; the record's object must outlive the sheet's window.
    void AddPage(const PROPSHEETPAGEA& page) { m_pages.push_back(page); }

    // Creates the sheet as a visible child of `parent` with no frame of its
    // own. 1 on success; 0 changes nothing.
    int Create(HWND parent, HINSTANCE instance);
    // Puts the active page into the tab control's display area.
    void Layout();
    // Ctrl+Tab and Ctrl+Shift+Tab switch pages while the focus is inside
    // the sheet. True when the message was taken.
    bool PreTranslateMessage(const MSG& message);

    HWND Window() const { return m_window; }

private:
    static int CALLBACK Callback(HWND window, UINT message, LPARAM lParam);
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR data);
    void FitToPages();
    void SwitchPage(int step);

    std::vector<PROPSHEETPAGEA> m_pages;
    HWND m_window = nullptr;
    bool m_singleLine = false;
    bool m_buttons = false;
    bool m_flatButtons = false;
    bool m_flatSeparators = false;
    bool m_applied = false;
    int m_pageTop = 0;
};
