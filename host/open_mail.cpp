// What happens when the user opens a received message.
#include <string.h>

#include "common/guards.h"
#include "common/host_api.h"
#include "common/user_texts.h"
#include "host/plugin_interface.h"
#include "incoming/classify.h"
#include "incoming/decrypt_verify.h"
#include "settings/settings.h"

// A local mailbox path has at least two backslashes; a remote one does not.
static bool IsLocalFolder(const char* path)
{
    if (path == NULL)
        return false;
    int count = 0;
    for (const char* p = path; *p != '\0'; ++p)
        if (*p == '\\')
            ++count;
    return count >= 2;
}

static void ActOnReceivingBehavior(int kind)
{
    const char* behavior = g_settings.receivingBehavior;
    if (strcmp(behavior, "Popup") == 0) {
        int answer = MessageBoxA(NULL, TEXT_VERIFY_QUESTION, TEXT_NOTICE_CAPTION,
                                 MB_YESNO | MB_ICONINFORMATION | MB_TOPMOST);
        if (answer == IDYES)
            DecryptVerifyCommand();
    } else if (strcmp(behavior, "AutoVerify") == 0) {
        DecryptVerifyCommand();
    } else if (strcmp(behavior, "AddNotice") == 0) {
        if (kind != SMIME_MULTIPART_SIGNED)
            g_host.SetText(-2, TEXT_SMIME_NOTICE);
    }
}

int WINAPI ZDC_OnOpenMail(LPCSTR)
{
    if (!IsLocalFolder(g_host.GetCurrentFolder()))
        return 0;
    HostText source(g_host.GetSource(NULL));
    if (source.get() == NULL)
        return 0;
    int kind = ClassifySmimeMessage(source.get());
    if (kind != SMIME_NONE)
        ActOnReceivingBehavior(kind);
    return 0;
}
