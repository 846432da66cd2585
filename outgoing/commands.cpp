// The commands of the composition window: encrypt, sign, sign and encrypt.
#include <string.h>

#include <string>

#include "common/host_api.h"
#include "common/messages.h"
#include "outgoing/commands.h"
#include "outgoing/composer.h"
#include "outgoing/encrypt.h"
#include "outgoing/report.h"
#include "outgoing/sign.h"
#include "settings/settings.h"

namespace {

// multipart/signed only when asked for exactly; opaque signed-data otherwise.
int RunSigningForm(HWND window, LPARAM value, SmimeResult* result)
{
    if (SettingIsYes(g_settings.detachedSig))
        return SignDetached(window, value, result);
    return SignOpaque(window, value, result);
}

}  // namespace

void WINAPI OnEncryptCommand(HWND window, LPARAM value)
{
    try {
        SmimeResult result;
        memset(&result, 0, sizeof result);
        if (EncryptMessage(window, value, &result) == 1)
            ShowReport(std::string(TEXT_RECIPIENTS) + "\n" + result.certText);
    } catch (...) {
        ShowMessage(TEXT_OUT_OF_MEMORY);
    }
    StampPluginHeader(window);
}

void WINAPI OnSignCommand(HWND window, LPARAM value)
{
    try {
        SmimeResult result;
        memset(&result, 0, sizeof result);
        if (RunSigningForm(window, value, &result) == 1)
            ShowReport(std::string(TEXT_SIGNER) + "\n" + result.signerName);
    } catch (...) {
        ShowMessage(TEXT_OUT_OF_MEMORY);
    }
    StampPluginHeader(window);
}

void WINAPI OnSignEncryptCommand(HWND window, LPARAM value)
{
    // The composed message, put back when either step does not succeed.
    LPSTR saved = g_host.CompGetSource(window);
    bool done = false;
    try {
        SmimeResult result;
        memset(&result, 0, sizeof result);
        if (RunSigningForm(window, value, &result) == 1 && EncryptMessage(window, value, &result) == 1) {
            done = true;
            ShowReport(std::string(TEXT_RECIPIENTS) + "\n" + result.certText + "\n\n" + TEXT_SIGNER + "\n" +
                       result.signerName);
        }
    } catch (...) {
        ShowMessage(TEXT_OUT_OF_MEMORY);
    }
    if (!done && saved != NULL)
        g_host.CompSetSource(window, saved);
    if (saved != NULL)
        g_host.Free(saved);
    if (done)
        StampPluginHeader(window);
}
