#pragma once

// Ids of the Windows program's resources, shared by the resource script and the code.
// Kept free of C++ so that the resource compiler can read it.

#define IDC_STATIC (-1)

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_TESSELUPDATE100_DIALOG 102
#define IDR_MAINFRAME 128
#define IDB_LOGO 133
#define IDR_PACKED_APPLICATION 169
#define IDR_PACKED_BOOT 170
#define IDR_PACKED_PICTURE 171

#define IDC_GO 1001
#define IDC_STATUS 1002
#define IDC_ABOUT_TEXT 1003
#define IDC_LOGO 1019

// The system-menu entry of the About box. System command ids keep their low four bits
// for the system's own use, so it is matched with them cleared.
#define IDM_ABOUTBOX 0x0010

#define IDS_APPLICATION_TITLE 57344
