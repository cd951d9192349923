// Resource IDs of the Windows edition, shared by the resource script and the code.
// The control IDs of the main dialog; 1000 is a hidden edit control the template keeps.
#pragma once

#define IDD_MAIN_DIALOG 103    // main dialog template (0x67)
#define IDI_PROGRAM_ICON 109   // program icon (0x6D): 32 x 32 in 16 and 256 colours

#define IDC_FILE_NAME 1000
#define IDC_UPDATE 1002
#define IDC_PROGRESS 1003
#define IDC_CURRENT_VERSION 1004
#define IDC_NEW_VERSION 1005
#define IDC_STATUS 1006
#define IDC_NOTICE 1007
#define IDC_EXIT 1008

#define ZORFLASH_WINDOW_CLASS "ZFLASHUSB"

#ifndef IDC_STATIC
#define IDC_STATIC (-1)  // labels that the code never addresses
#endif
