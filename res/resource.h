// Resource ids of KeyScout.rc, shared by the resource script and the code that uses them.
// Plain #defines: the resource compiler reads this file too.
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_KEYSCOUT_DIALOG 102
#define IDR_MAINFRAME 128
#define IDB_PICTURE 130

#define IDC_TREE_DETAILS 1002
#define IDC_LIST_HARDWARE 1003
#define IDC_EDIT_VENDOR_ID 1008
#define IDC_EDIT_PRODUCT_ID 1009
#define IDC_EDIT_SERIAL 1010
