// Resource and control identifiers, shared by the .rc file and the code.
#pragma once

#define IDI_APP 1
#define IDC_LINK 101
#define IDB_LOGO 102

// Control identifiers. cmdExit is the window's cancel button, so it carries
// IDCANCEL (2): Esc anywhere in the window clicks it.
#define IDC_CMDEXIT 2
#define IDC_CMDRESTORE 1001
#define IDC_CMDBAK 1002
#define IDC_LBLABOUT 1003
#define IDC_FRAME1 1004
#define IDC_LBLADV 1005
#define IDC_LBLCOUNT 1006
#define IDC_IMAGE1 1007

#define KESTRUM_VERSION_NUMBERS 1, 0, 0, 0
#define KESTRUM_VERSION_TEXT "1.00"
