// The commands of the composition window: encrypt, sign, sign and encrypt.
#include <stdlib.h>
#include <string.h>

#include "common/messages.h"
#include "outgoing/commands.h"
#include "outgoing/composer.h"
#include "outgoing/encrypt.h"
#include "outgoing/report.h"
#include "outgoing/signer.h"
#include "outgoing/sign.h"
#include "settings/settings.h"

namespace {

// multipart/signed only when asked for exactly; opaque signed-data otherwise.
SignTextFunction SigningForm()
{
    return SettingIsYes(g_settings.detachedSig) ? SignDetachedText : SignOpaqueText;
}

// Signs the composer's text, then encrypts the signed text; the composer is
// written once, with the result, so a step that fails leaves it as it was.
char* SignAndEncryptText(HWND window, SmimeResult* result)
{
    char* signedText = SignComposerText(window, SigningForm(), result);
    if (signedText == NULL)
        return NULL;
    char* text = EncryptText(window, signedText, result);
    free(signedText);
    return text;
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

void WINAPI OnSignCommand(HWND window, LPARAM)
{
    SmimeResult result;
    memset(&result, 0, sizeof result);
    char* text = SignComposerText(window, SigningForm(), &result);
    if (text != NULL && ReplaceComposerText(window, text))
        ShowReport({TEXT_SIGNER, "\n", result.signerName});
    StampPluginHeader(window);
}

void WINAPI OnSignEncryptCommand(HWND window, LPARAM)
{
    SmimeResult result;
    memset(&result, 0, sizeof result);
    char* text = SignAndEncryptText(window, &result);
    if (text == NULL || !ReplaceComposerText(window, text))
        return;
    ShowReport({TEXT_RECIPIENTS, "\n", result.certText, "\n\n", TEXT_SIGNER, "\n", result.signerName});
    StampPluginHeader(window);
}
