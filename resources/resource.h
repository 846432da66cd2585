// Identifiers of the module's resources, shared by the resource script and the code.
#pragma once

#define IDD_SETUP 101
#define IDD_SETUP_ENGLISH 102
#define IDB_PADLOCK 104

// Setup dialog controls (IDOK and IDCANCEL are the two buttons).
#define IDC_DETACHED_SIG 1001
#define IDC_HASH_ALG 1002
#define IDC_ENC_ALG 1003
#define IDC_ENC_ALG_LABEL 1004
#define IDC_HASH_ALG_LABEL 1005
#define IDC_VERSION 1006
#define IDC_SIGN_CERT_LABEL 1007
#define IDC_RECEIVING_BEHAVIOR 1008
#define IDC_ENC_CERT_LABEL 1009
#define IDC_USE_OL_STORE 1010
#define IDC_RECEIVING_LABEL 1011
#define IDC_DEBUG 1012
#define IDC_SIGN_CERT 1019
#define IDC_ENC_CERT 1020
// The English copy names two controls differently.
#define IDC_USE_OL_STORE_ENGLISH 1013
#define IDC_RECEIVING_LABEL_ENGLISH 1025
#define IDC_PICTURE -1
