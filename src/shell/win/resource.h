#pragma once

// Numbers of the shell's resources and messages, shared by the resource
// script and the code.

#define IDI_TRAY_GREEN 103
#define IDI_TRAY_RED 104
#define IDI_TRAY_YELLOW 105
#define IDI_TRAY_SHUTTING_DOWN 110

#define IDD_RED_LIST 106
#define IDD_ABOUT 109
#define IDD_ALL_HOSTS 111

#define IDC_RED_LIST 1000
#define IDC_ABOUT_ICON 1005
#define IDC_ABOUT_LINK 1006
#define IDC_ABOUT_VERSION 1007
#define IDC_ALL_HOSTS_LIST 1008

#define IDS_SHUTTING_DOWN 2
#define IDS_STATUS_RED 3
#define IDS_STATUS_YELLOW 4
#define IDS_STATUS_GREEN 5

// The tray menu's command ids are in shell/common/tray_menu.h.

#define ID_CHOOSE_FONT 0x0010

#define WM_TRAY_NOTIFY 0x8064
#define WM_ADDRESS_CHANGED 0x8065
#define WM_ADDRESS_STILL_RED 0x8066
#define WM_SHOW_NOTICES 0x8067
#define WM_ADDRESS_REMOVED 0x8068
#define WM_ALL_HOSTS_ROWS 0x8069

// The link's text until the box puts the help page's path there.
#define BV_PRODUCT_PAGE "beaconvigilor-help.html"
