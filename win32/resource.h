// Resource and command identifiers of Parlex2.exe, shared by the resource
// script and the code. The numbers are the program's own and never change:
// settings, scripts and the upgrade post some of these commands.
#pragma once

// Menu and accelerators of the main window.
#define IDR_MAIN_MENU 109
#define IDR_ACCELERATORS 109

// Icons: the program's, and the instrument's.
#define IDI_PARLEX2 107
#define IDI_INSTRUMENT 154

// About box.
#define IDD_ABOUTBOX 103
#define IDC_ABOUT_PRODUCT 110
#define IDC_ABOUT_VERSION 111

// Menu commands.
#define ID_ABOUT 104
#define ID_RESULT_SAVE 129
#define ID_CONFIGURE_CONNECTION 32771
#define ID_RESULT_CLEAR 32773
#define ID_UPGRADE_FIRMWARE 32774
#define ID_SET_DATE_TIME 32775
#define ID_DISCONNECT 32776
#define ID_SCRIPT 32777
#define ID_CONVERT_BINARY 32778

// Commands the main window posts or sends to itself.
#define ID_CONNECTION_CHANGED 122
#define ID_FOCUS_COMMAND 123
#define ID_RECALL_LINE 124
#define ID_HISTORY_PREV 126
#define ID_HISTORY_NEXT 127

// Child controls of the main window (there is no 18004).
#define IDC_RESULTS 18000
#define IDC_INFO 18001
#define IDC_COMMAND 18002
#define IDC_SEND 18003
#define IDC_SCRIPT_LIST 18005
#define IDC_RUN 18006
#define IDC_STEP 18007
#define IDC_CLOSE 18008

// The one window timer: received-data polling and the script runner's tick.
#define ID_POLL_TIMER 1117

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
