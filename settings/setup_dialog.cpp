// The setup dialog: shows the eight settings, lists the user's own
// certificates for signing and encryption, and on OK saves every key.
#include "settings/setup_dialog.h"

#include <string.h>

#include <wincrypt.h>

#include "certs/cert_select.h"
#include "common/guards.h"
#include "common/messages.h"
#include "common/module.h"
#include "resources/resource.h"
#include "settings/settings.h"

namespace {

// The certificate lists' item for an empty setting: find the certificate by the From address.

const char* const kEncAlgs[] = {"RC2(40bit)", "DES", "RC2(128bit)", "3DES"};

const char kSha1Oid[] = "1.3.14.3.2.26";
const char kMd5Oid[] = "1.2.840.113549.2.5";

const char* const kBehaviorItems[] = {
    TEXT_BEHAVIOR_AUTO_VERIFY,
    TEXT_BEHAVIOR_POPUP,
    TEXT_BEHAVIOR_ADD_NOTICE,
    TEXT_BEHAVIOR_NOTHING,
};
const char* const kBehaviorValues[] = {"AutoVerify", "Popup", "AddNotice", "Nothing"};

LRESULT ListMessage(HWND dialog, int list, UINT message, WPARAM wParam, const char* text)
{
    return SendDlgItemMessageA(dialog, list, message, wParam, (LPARAM)text);
}

void InsertItems(HWND dialog, int list, const char* const* items, int count)
{
    for (int i = 0; i < count; ++i)
        ListMessage(dialog, list, CB_INSERTSTRING, (WPARAM)i, items[i]);
}

// Adds the subject of every certificate of "MY" that allows `usage`, then
// selects the stored subject (or the From item when none is stored). False
// when the store cannot be opened.
bool FillCertificateList(HWND dialog, int list, BYTE usage, const char* stored)
{
    StoreHandle store;  // a failed close is not reported here
    if (!store.OpenSystem("MY")) {
        ShowMessage(TEXT_STORE_NOT_OPENED);
        return false;
    }
    PCCERT_CONTEXT cert = NULL;  // the enumeration releases each context it passes
    while ((cert = CertEnumCertificatesInStore(store.get(), cert)) != NULL) {
        if (!CertHasKeyUsage(usage, cert))
            continue;
        char subject[SUBJECT_SIZE];
        if (GetSubjectString(cert, subject) >= 2)
            ListMessage(dialog, list, CB_ADDSTRING, 0, subject);
    }
    // The list's own prefix search, which ignores letter case; no match leaves no selection.
    ListMessage(dialog, list, CB_SELECTSTRING, (WPARAM)-1, stored[0] != '\0' ? stored : TEXT_FROM_ITEM);
    return true;
}

// Returns TRUE to have the system focus the OK button, FALSE when the
// initialisation stopped because "MY" could not be opened.
BOOL InitDialog(HWND dialog)
{
    char version[SETTING_SIZE];
    wsprintfA(version, "%s %s", PLUGIN_NAME, PLUGIN_VERSION);
    SetDlgItemTextA(dialog, IDC_VERSION, version);

    InsertItems(dialog, IDC_ENC_ALG, kEncAlgs, 4);
    int encAlg = -1;
    for (int i = 0; i < 4 && encAlg < 0; ++i)
        if (strcmp(g_settings.encAlg, kEncAlgs[i]) == 0)
            encAlg = i;
    if (encAlg >= 0)
        SendDlgItemMessageA(dialog, IDC_ENC_ALG, CB_SETCURSEL, (WPARAM)encAlg, 0);
    else
        ShowMessage(TEXT_UNKNOWN_ENCRYPTION_ALGORITHM);

    ListMessage(dialog, IDC_ENC_CERT, CB_INSERTSTRING, 0, TEXT_FROM_ITEM);
    if (!FillCertificateList(dialog, IDC_ENC_CERT, CERT_KEY_ENCIPHERMENT_KEY_USAGE, g_settings.encCert))
        return FALSE;

    const char* const hashItems[] = {"SHA-1", "MD5"};
    InsertItems(dialog, IDC_HASH_ALG, hashItems, 2);
    if (strcmp(g_settings.signHashOID, kSha1Oid) == 0)
        SendDlgItemMessageA(dialog, IDC_HASH_ALG, CB_SETCURSEL, 0, 0);
    else if (strcmp(g_settings.signHashOID, kMd5Oid) == 0)
        SendDlgItemMessageA(dialog, IDC_HASH_ALG, CB_SETCURSEL, 1, 0);

    ListMessage(dialog, IDC_SIGN_CERT, CB_ADDSTRING, 0, TEXT_FROM_ITEM);
    if (!FillCertificateList(dialog, IDC_SIGN_CERT, CERT_DIGITAL_SIGNATURE_KEY_USAGE, g_settings.signCert))
        return FALSE;

    CheckDlgButton(dialog, IDC_USE_OL_STORE, SettingIsYes(g_settings.useOLStore) ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_DETACHED_SIG, SettingIsYes(g_settings.detachedSig) ? BST_CHECKED : BST_UNCHECKED);

    InsertItems(dialog, IDC_RECEIVING_BEHAVIOR, kBehaviorItems, 4);
    int behavior = 3;
    for (int i = 0; i < 3; ++i)
        if (strcmp(g_settings.receivingBehavior, kBehaviorValues[i]) == 0)
            behavior = i;
    SendDlgItemMessageA(dialog, IDC_RECEIVING_BEHAVIOR, CB_SETCURSEL, (WPARAM)behavior, 0);

    CheckDlgButton(dialog, IDC_DEBUG, SettingIsYes(g_settings.debug) ? BST_CHECKED : BST_UNCHECKED);
    return TRUE;
}

// The text of the list's selected item; empty when nothing is selected.
void SelectedText(HWND dialog, int list, char* text)
{
    text[0] = '\0';
    LRESULT selected = SendDlgItemMessageA(dialog, list, CB_GETCURSEL, 0, 0);
    if (selected == CB_ERR)
        return;
    // Every item fits (subjects come from a buffer of this size), but never trust that.
    LRESULT length = SendDlgItemMessageA(dialog, list, CB_GETLBTEXTLEN, (WPARAM)selected, 0);
    if (length < 0 || length >= SETTING_SIZE)
        return;
    if (SendDlgItemMessageA(dialog, list, CB_GETLBTEXT, (WPARAM)selected, (LPARAM)text) == CB_ERR)
        text[0] = '\0';
}

void SaveCertificate(HWND dialog, int list, char* setting, const char* key)
{
    char text[SETTING_SIZE];
    SelectedText(dialog, list, text);
    SaveSetting(setting, key, strcmp(text, TEXT_FROM_ITEM) == 0 ? "" : text);
}

const char* YesNo(HWND dialog, int box)
{
    return IsDlgButtonChecked(dialog, box) == BST_CHECKED ? "YES" : "NO";
}

// Saves key by key; a list without a selection stops the saving part of the
// way, with the earlier keys saved, and the dialog stays open.
void SaveAndClose(HWND dialog)
{
    if (SendDlgItemMessageA(dialog, IDC_ENC_ALG, CB_GETCURSEL, 0, 0) == CB_ERR)
        return;
    char text[SETTING_SIZE];
    SelectedText(dialog, IDC_ENC_ALG, text);
    SaveSetting(g_settings.encAlg, "encAlg", text);

    SaveCertificate(dialog, IDC_ENC_CERT, g_settings.encCert, "encCert");

    LRESULT hash = SendDlgItemMessageA(dialog, IDC_HASH_ALG, CB_GETCURSEL, 0, 0);
    if (hash == CB_ERR)
        return;
    SaveSetting(g_settings.signHashOID, "signHashOID", hash == 0 ? kSha1Oid : kMd5Oid);

    SaveCertificate(dialog, IDC_SIGN_CERT, g_settings.signCert, "signCert");
    SaveSetting(g_settings.useOLStore, "useOLStore", YesNo(dialog, IDC_USE_OL_STORE));
    SaveSetting(g_settings.detachedSig, "detachedSig", YesNo(dialog, IDC_DETACHED_SIG));

    SelectedText(dialog, IDC_RECEIVING_BEHAVIOR, text);
    const char* behavior = kBehaviorValues[3];
    for (int i = 0; i < 3; ++i)
        if (strcmp(text, kBehaviorItems[i]) == 0)
            behavior = kBehaviorValues[i];
    SaveSetting(g_settings.receivingBehavior, "receivingBehavior", behavior);

    SaveSetting(g_settings.debug, "debug", YesNo(dialog, IDC_DEBUG));
    EndDialog(dialog, IDOK);
}

}  // namespace

INT_PTR CALLBACK SetupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG)
        return InitDialog(dialog);
    if (message != WM_COMMAND)
        return FALSE;
    switch (LOWORD(wParam)) {
    case IDOK:
        SaveAndClose(dialog);
        return TRUE;
    case IDCANCEL:
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR OpenSetupDialog(HWND owner)
{
    return DialogBoxParamA(g_instance, MAKEINTRESOURCE(IDD_SETUP), owner, SetupDialogProc, 0);
}
