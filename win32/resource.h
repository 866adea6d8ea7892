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

// Connect dialog: interface, COM port, baud rate or IP address; Test,
// Connect, Save as Default, and the LAN search.
#define IDD_CONNECT 121
#define IDC_CONNECT_NOW 112
#define IDC_INTERFACE 113
#define IDC_COM_PORT 114
#define IDC_BAUD_RATE 115
#define IDC_TEST 116
#define IDC_IP_ADDRESS 117
#define IDC_PORT_LABEL 118
#define IDC_BAUD_LABEL 119
#define IDC_SAVE_DEFAULT 120
#define IDC_SEARCH_LAN 1006

// "Please Choose Instrument": the instruments the LAN search found.
#define IDD_CHOOSE_INSTRUMENT 153
#define IDC_INSTRUMENT_LIST 1007

// "Firmware Files List": the Proposed Operation, accepted or cancelled.
#define IDD_FIRMWARE_FILES 151
#define IDC_FILES_ACCEPT 1000
#define IDC_FILES_TEXT 1001

// "Upgrade Firmware": the worker's status, progress and log. The worker's
// reports arrive as these commands (the text ones carry a heap copy that the
// dialog frees).
#define IDD_UPGRADE_PROGRESS 152
#define IDC_UPG_START 1002
#define IDC_UPG_LOG 1003
#define IDC_UPG_PROGRESS 1004
#define IDC_UPG_STATUS 1005
#define ID_UPG_FINISHED 125
#define ID_UPG_PROGRESS 126
#define ID_UPG_STATUS 127
#define ID_UPG_LOG 128

// The main window's command, control and timer identifiers.
#include "common/command_ids.h"

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
