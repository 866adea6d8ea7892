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

// The main window's command, control and timer identifiers.
#include "common/command_ids.h"

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
