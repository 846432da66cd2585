#include "common/host_api.h"

const char* const kHostApiNames[HOST_API_SLOT_COUNT] = {
    "ZDA_GetVersion",         "ZDA_Command",              "ZDA_GetWindowHandles",
    "ZDA_RegisterCommand",    "ZDA_RegisterUICallback",   "ZDA_GetDataFolder",
    "ZDA_GetTempFolder",      "ZDA_GetTempFileName",      "ZDA_GetCurrentMailBox",
    "ZDA_SetCurrentMailBox",  "ZDA_GetCurrentFolder",     "ZDA_SetCurrentFolder",
    "ZDA_GetFolderDisplayName", "ZDA_SetMessageText",     "ZDA_GetCurrentMail",
    "ZDA_SetCurrentMail",     "ZDA_GetNextMail",          "ZDA_SetSel",
    "ZDA_AppendMessage",      "ZDA_MoveSelectedMessages", "ZDA_GetStatus",
    "ZDA_ComposeMail",        "ZDA_GetCharSet",           "ZDA_GetSource",
    "ZDA_SetSource",          "ZDA_GetHeader",            "ZDA_GetText",
    "ZDA_SetText",            "ZDA_GetSpecifiedHeader",   "ZDA_SetSpecifiedHeader",
    "ZDA_CompGetCharSet",     "ZDA_CompGetSource",        "ZDA_CompSetSource",
    "ZDA_CompGetHeader",      "ZDA_CompGetSpecifiedHeader", "ZDA_CompSetSpecifiedHeader",
    "ZDA_CompGetText",        "ZDA_CompSetText",          "ZDA_CompAttachFile",
    "ZDA_Alloc",              "ZDA_ReAlloc",              "ZDA_Free",
    "ZDA_ISO_2022_JP",        "ZDA_ISO_2022_KR",          "ZDA_HZ_GB2312",
    "ZDA_ISO_8859_2",         "ZDA_EUC_JP",               "ZDA_UTF_7",
    "ZDA_UTF_8",              "ZDA_B64Convert",           "ZDA_QPConvert",
    "ZDA_MIMEHeader",         "ZDA_SerializeRcpts",       "ZDA_Connect",
};

HostApi g_host;

HostApi::HostApi() : hostModule(NULL)
{
    for (int i = 0; i < HOST_API_SLOT_COUNT; ++i)
        slots[i] = NULL;
}

bool HostApi::Bind()
{
    if (hostModule != NULL)
        return true;
    HMODULE executable = GetModuleHandleA(NULL);
    if (executable == NULL)
        return false;
    for (int i = 0; i < HOST_API_SLOT_COUNT; ++i) {
        slots[i] = GetProcAddress(executable, kHostApiNames[i]);
        if (slots[i] == NULL)
            return false;  // hostModule stays null: the table counts as unbound
    }
    hostModule = executable;
    return true;
}
