// The setup dialog: shows the eight settings, lists the user's own
// certificates for signing and encryption, and on OK saves every key it shows.
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

const char* const kEncAlgs[] = {"RC2(40bit)", "DES", "RC2(128bit)", "3DES", "AES(128bit)", "AES(256bit)"};
const int kEncAlgCount = sizeof kEncAlgs / sizeof kEncAlgs[0];

// List 1002's items and the hash identifiers they stand for, by position.
// MD5 stays for settings files that chose it, marked as not to be chosen.
const char* const kHashItems[] = {"SHA-1", TEXT_MD5_ITEM, "SHA-256", "SHA-384", "SHA-512"};
const char* const kHashOids[] = {"1.3.14.3.2.26", "1.2.840.113549.2.5", "2.16.840.1.101.3.4.2.1",
                                 "2.16.840.1.101.3.4.2.2", "2.16.840.1.101.3.4.2.3"};
const int kHashCount = sizeof kHashItems / sizeof kHashItems[0];

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

// Selects the item whose text is exactly `text`, or nothing. The list's own
// search would take the first item that merely begins with the text and
// ignore letter case, so an untouched OK could store another certificate.
void SelectExactItem(HWND dialog, int list, const char* text)
{
    LRESULT found = CB_ERR;
    size_t length = strlen(text);
    LRESULT count = SendDlgItemMessageA(dialog, list, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count && found == CB_ERR; ++i) {
        char item[SETTING_SIZE];
        if (SendDlgItemMessageA(dialog, list, CB_GETLBTEXTLEN, (WPARAM)i, 0) != (LRESULT)length ||
            length >= sizeof item)
            continue;
        if (ListMessage(dialog, list, CB_GETLBTEXT, (WPARAM)i, item) != CB_ERR && strcmp(item, text) == 0)
            found = i;
    }
    SendDlgItemMessageA(dialog, list, CB_SETCURSEL, (WPARAM)found, 0);
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
    SelectExactItem(dialog, list, stored[0] != '\0' ? stored : TEXT_FROM_ITEM);
    return true;
}

// How far the initialisation got. A failed opening of "MY" stops it, and OK
// then saves only the keys whose controls were filled; the others keep their
// loaded values instead of whatever an empty control would say.
enum FilledUpTo { FILLED_ALGORITHM, FILLED_ENC_CERT, FILLED_ALL };
FilledUpTo g_filled = FILLED_ALGORITHM;  // of the open dialog (it is modal)

// Returns TRUE to have the system focus the OK button, FALSE when the
// initialisation stopped because "MY" could not be opened.
BOOL InitDialog(HWND dialog)
{
    g_filled = FILLED_ALGORITHM;
    char version[SETTING_SIZE];
    wsprintfA(version, "%s %s", PLUGIN_NAME, PLUGIN_VERSION);
    SetDlgItemTextA(dialog, IDC_VERSION, version);

    InsertItems(dialog, IDC_ENC_ALG, kEncAlgs, kEncAlgCount);
    int encAlg = -1;
    for (int i = 0; i < kEncAlgCount && encAlg < 0; ++i)
        if (strcmp(g_settings.encAlg, kEncAlgs[i]) == 0)
            encAlg = i;
    if (encAlg >= 0)
        SendDlgItemMessageA(dialog, IDC_ENC_ALG, CB_SETCURSEL, (WPARAM)encAlg, 0);
    else
        ShowMessage(TEXT_UNKNOWN_ENCRYPTION_ALGORITHM);

    ListMessage(dialog, IDC_ENC_CERT, CB_INSERTSTRING, 0, TEXT_FROM_ITEM);
    if (!FillCertificateList(dialog, IDC_ENC_CERT, CERT_KEY_ENCIPHERMENT_KEY_USAGE, g_settings.encCert))
        return FALSE;
    g_filled = FILLED_ENC_CERT;

    InsertItems(dialog, IDC_HASH_ALG, kHashItems, kHashCount);
    for (int i = 0; i < kHashCount; ++i)
        if (strcmp(g_settings.signHashOID, kHashOids[i]) == 0)
            SendDlgItemMessageA(dialog, IDC_HASH_ALG, CB_SETCURSEL, (WPARAM)i, 0);

    ListMessage(dialog, IDC_SIGN_CERT, CB_ADDSTRING, 0, TEXT_FROM_ITEM);
    if (!FillCertificateList(dialog, IDC_SIGN_CERT, CERT_DIGITAL_SIGNATURE_KEY_USAGE, g_settings.signCert))
        return FALSE;
    g_filled = FILLED_ALL;

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

// The setting value of a certificate list: empty for the From item.
void CertificateChoice(HWND dialog, int list, char* setting)
{
    SelectedText(dialog, list, setting);
    if (strcmp(setting, TEXT_FROM_ITEM) == 0)
        setting[0] = '\0';
}

void YesNo(HWND dialog, int box, char* setting)
{
    strcpy(setting, IsDlgButtonChecked(dialog, box) == BST_CHECKED ? "YES" : "NO");
}

bool HasSelection(HWND dialog, int list)
{
    return SendDlgItemMessageA(dialog, list, CB_GETCURSEL, 0, 0) != CB_ERR;
}

// Saves the keys the dialog shows, all together, and closes it. A list
// without a choice or a failed write is told and keeps the dialog open with
// nothing changed.
void SaveAndClose(HWND dialog)
{
    if (!HasSelection(dialog, IDC_ENC_ALG)) {
        ShowMessage(TEXT_CHOOSE_ENCRYPTION_ALGORITHM);
        return;
    }
    if (g_filled >= FILLED_ENC_CERT && !HasSelection(dialog, IDC_HASH_ALG)) {
        ShowMessage(TEXT_CHOOSE_HASH_ALGORITHM);
        return;
    }
    Settings next = g_settings;
    SelectedText(dialog, IDC_ENC_ALG, next.encAlg);
    if (g_filled >= FILLED_ENC_CERT) {
        CertificateChoice(dialog, IDC_ENC_CERT, next.encCert);
        LRESULT hash = SendDlgItemMessageA(dialog, IDC_HASH_ALG, CB_GETCURSEL, 0, 0);
        if (hash >= 0 && hash < kHashCount)
            strcpy(next.signHashOID, kHashOids[hash]);
    }
    if (g_filled >= FILLED_ALL) {
        CertificateChoice(dialog, IDC_SIGN_CERT, next.signCert);
        YesNo(dialog, IDC_USE_OL_STORE, next.useOLStore);
        YesNo(dialog, IDC_DETACHED_SIG, next.detachedSig);
        char text[SETTING_SIZE];
        SelectedText(dialog, IDC_RECEIVING_BEHAVIOR, text);
        strcpy(next.receivingBehavior, kBehaviorValues[3]);
        for (int i = 0; i < 3; ++i)
            if (strcmp(text, kBehaviorItems[i]) == 0)
                strcpy(next.receivingBehavior, kBehaviorValues[i]);
        YesNo(dialog, IDC_DEBUG, next.debug);
    }
    switch (SaveSettings(next)) {
    case SAVE_DONE:
        EndDialog(dialog, IDOK);
        return;
    case SAVE_NO_PATH:
        ShowMessage(TEXT_SETTINGS_PATH_TOO_LONG);
        return;
    case SAVE_WRITE_FAILED: {
        char text[SETTING_SIZE];
        wsprintfA(text, TEXT_SETTINGS_NOT_WRITTEN, g_settingsPath);
        ShowMessage(text);
        return;
    }
    }
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
