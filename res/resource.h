// Resource identifiers, shared by the resource script and the shell.
#pragma once

#define IDD_ABOUTBOX 100   // About box
#define IDS_ABOUTBOX 101   // label of the About entry in the system menu
#define IDD_PROGRESS 102   // progress window
#define IDR_MAINFRAME 128  // program icon

// Command of the About entry in the system menu; system commands keep their low four bits
// free, so 0x0010 to 0x001F all mean About.
#define IDM_ABOUTBOX 0x0010

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
