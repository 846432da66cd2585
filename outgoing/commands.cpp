// The commands of the composition window: encrypt, sign, sign and encrypt.
#include <string.h>

#include "common/guards.h"
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
    SmimeResult result;
    memset(&result, 0, sizeof result);
    if (EncryptMessage(window, value, &result) == 1)
        ShowReport({TEXT_RECIPIENTS, "\n", result.certText});
    StampPluginHeader(window);
}

void WINAPI OnSignCommand(HWND window, LPARAM value)
{
    SmimeResult result;
    memset(&result, 0, sizeof result);
    if (RunSigningForm(window, value, &result) == 1)
        ShowReport({TEXT_SIGNER, "\n", result.signerName});
    StampPluginHeader(window);
}

void WINAPI OnSignEncryptCommand(HWND window, LPARAM value)
{
    // The composed message, put back when either step does not succeed.
    HostText saved(g_host.CompGetSource(window));
    SmimeResult result;
    memset(&result, 0, sizeof result);
    bool done = RunSigningForm(window, value, &result) == 1 && EncryptMessage(window, value, &result) == 1;
    if (done)
        ShowReport({TEXT_RECIPIENTS, "\n", result.certText, "\n\n", TEXT_SIGNER, "\n", result.signerName});
    else if (saved.get() != NULL)
        g_host.CompSetSource(window, saved.get());
    saved.Release();
    if (done)
        StampPluginHeader(window);
}
