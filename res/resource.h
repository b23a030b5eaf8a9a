// Resource identifiers shared by the C++ sources and the resource script.
// Keep this file plain #define lines so windres can read it too.
#ifndef RES_RESOURCE_H
#define RES_RESOURCE_H

#define IDD_ABOUT        100
#define IDS_ABOUT_MENU   101
#define IDD_FLASHER      102
#define IDI_APP          128

// System-menu command for the About entry; must stay below 0xF000 and keep
// the low four bits clear.
#define ID_SYS_ABOUT     0x0010

#define IDC_REFLASH      1000
#define IDC_SAVE_EEPROM  1002
#define IDC_STATUS       1004
#define IDC_PROGRESS     1013

#endif
