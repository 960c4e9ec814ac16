// Resource identifiers shared by setup.rc and the dialog code.
#pragma once

#define IDD_INSTALL 101
#define IDI_SETUP 103
#define IDD_MAINTENANCE 106

#define IDC_INSTALL_FOLDER 1000
#define IDC_BROWSE 1001
#define IDC_SEND_TO 1002
#define IDC_QUICK_LAUNCH 1003
#define IDC_FOLDER_VERB 1004
#define IDC_NEW_MENU 1005
#define IDC_CUSTOMIZE 1006
#define IDC_UNINSTALL 1007
#define IDC_ALL_USERS 1008
#define IDC_JUST_ME 1009
