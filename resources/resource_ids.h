// Resource and control ids of quillon.rc, shared by the resource compiler and
// the Win32 views. The presenters name the same numbers; the views check that
// they agree.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_QUILLON_DIALOG 102
#define IDR_MAINFRAME 128
#define IDR_TRAY_MENU 129
#define IDD_ADD_PROXY 132
#define IDD_SETTINGS_PAGE 133
#define IDD_PRIVACY_PAGE 134
#define IDB_LOGO 137

#define IDC_ENABLE 1002
#define IDC_CLEAR_TMP_FILES 1003
#define IDC_CLEAR_COOKIES 1004
#define IDC_DELETE_ADDRESSES 1005
#define IDC_DELETE_HISTORY 1006
#define IDC_ENABLE_ACTIVEX 1010
#define IDC_PROXY_EDIT 1022
#define IDC_BLOCK_POPUPS 1024
#define IDC_POPUP_COUNT 1025
#define IDC_ADD_PROXY 1026
#define IDC_UPDATE_LIST 1027
#define IDC_PROXY_LIST 1028
#define IDC_SAVE_SETTINGS 1029
#define IDC_HELP_FILE 1030
#define IDC_AUTO_SWITCH 1031

#define ID_TRAY_ENABLE 32771
#define ID_TRAY_CONFIGURATION 32772
#define ID_TRAY_HIDE_MENU 0
#define ID_TRAY_EXIT 32775
#define IDM_ABOUTBOX 0x0010
