// The 54 host functions. Ten of them do what the plug-in relies on; the
// others exist so that the plug-in can bind, and do nothing.
#include <stdlib.h>
#include <string.h>

#include <set>

#include "zhost/host_exports.h"
#include "zhost/zhost.h"

HWND kMainWindow = reinterpret_cast<HWND>(0x1001);
HWND kComposeWindow = reinterpret_cast<HWND>(0x2002);

static const char kDefaultFolder[] = "C:\\Zandrel\\Mail\\Inbox";

static std::set<void*>& LiveTexts()
{
    static std::set<void*> texts;
    return texts;
}

HostState& Host()
{
    static HostState state = [] {
        HostState s;
        s.folder = kDefaultFolder;
        return s;
    }();
    return state;
}

void ResetHost()
{
    bool echo = Host().echo;
    Host() = HostState();
    Host().folder = kDefaultFolder;
    Host().echo = echo;
}

// A heap copy that the plug-in gives back through ZDA_Free.
static LPSTR HandOut(const std::string& text)
{
    char* copy = static_cast<char*>(malloc(text.size() + 1));
    if (copy == NULL)
        return NULL;
    memcpy(copy, text.c_str(), text.size() + 1);
    LiveTexts().insert(copy);
    ++Host().liveTexts;
    return copy;
}

// A new text replaces the old as an edit control's contents do: where it does
// not fit, the old one is released before the copy is made, so that a large
// message is not held twice.
static void ReplaceText(std::string& target, const char* source)
{
    size_t length = strlen(source);
    if (length > target.capacity()) {
        std::string().swap(target);
        target.reserve(length + kTextRoom);
    }
    target.assign(source, length);
}

ZHOST_EXPORT int WINAPI ZDA_RegisterCommand(LPCSTR description, int menuType,
                                            ZCommandCallback callback)
{
    RegisteredCommand command;
    command.id = Host().nextCommandId++;
    command.description = description != NULL ? description : "";
    command.menuType = menuType;
    command.callback = callback;
    Host().commands.push_back(command);
    return command.id;
}

ZHOST_EXPORT LPCSTR WINAPI ZDA_GetCurrentFolder(void)
{
    return Host().hasFolder ? Host().folder.c_str() : NULL;
}

ZHOST_EXPORT LPSTR WINAPI ZDA_GetSource(LPCSTR /*messageId*/)
{
    ++Host().getSourceCalls;
    return Host().hasMessage ? HandOut(Host().message) : NULL;
}

ZHOST_EXPORT void WINAPI ZDA_SetSource(LPCSTR messageId, LPCSTR source)
{
    if (messageId != NULL && strcmp(messageId, "TEMP") == 0 && source != NULL) {
        ReplaceText(Host().message, source);
        Host().hasMessage = true;
    }
}

ZHOST_EXPORT void WINAPI ZDA_SetText(int mode, LPCSTR text)
{
    if (text == NULL)
        return;
    Host().notices.push_back(text);
    Transcribe("notice: " + TranscriptText(text));
    (void)mode;
}

ZHOST_EXPORT LPSTR WINAPI ZDA_CompGetSource(HWND window)
{
    if (window != kComposeWindow || !Host().hasComposer)
        return NULL;
    return HandOut(Host().composer);
}

ZHOST_EXPORT void WINAPI ZDA_CompSetSource(HWND window, LPCSTR source)
{
    if (window == kComposeWindow && source != NULL && Host().hasComposer)
        ReplaceText(Host().composer, source);
}

ZHOST_EXPORT int WINAPI ZDA_CompGetSpecifiedHeader(HWND window, LPCSTR name, LPSTR buffer,
                                                   int size)
{
    if (buffer == NULL || size <= 0)
        return 0;
    buffer[0] = '\0';
    if (window != kComposeWindow || !Host().hasComposer || name == NULL)
        return 0;
    std::string value = ComposerHeader(Host().composer, name);
    size_t length = value.size() < (size_t)size - 1 ? value.size() : (size_t)size - 1;
    memcpy(buffer, value.data(), length);
    buffer[length] = '\0';
    return (int)length;
}

ZHOST_EXPORT void WINAPI ZDA_CompSetSpecifiedHeader(HWND window, LPCSTR name, LPCSTR value)
{
    if (window == kComposeWindow && Host().hasComposer && name != NULL && value != NULL)
        SetComposerHeader(Host().composer, name, value);
}

ZHOST_EXPORT void WINAPI ZDA_Free(void* text)
{
    if (text == NULL)
        return;
    if (LiveTexts().erase(text) == 0) {
        ++Host().badFrees;
        fprintf(stderr, "zhost: ZDA_Free of a text the host did not hand out\n");
        return;
    }
    --Host().liveTexts;
    free(text);
}

// The functions the plug-in binds but never calls.
#define UNUSED_HOST_FUNCTION(name) \
    ZHOST_EXPORT int WINAPI name(void) { return 0; }

UNUSED_HOST_FUNCTION(ZDA_GetVersion)
UNUSED_HOST_FUNCTION(ZDA_Command)
UNUSED_HOST_FUNCTION(ZDA_GetWindowHandles)
UNUSED_HOST_FUNCTION(ZDA_RegisterUICallback)
UNUSED_HOST_FUNCTION(ZDA_GetDataFolder)
UNUSED_HOST_FUNCTION(ZDA_GetTempFolder)
UNUSED_HOST_FUNCTION(ZDA_GetTempFileName)
UNUSED_HOST_FUNCTION(ZDA_GetCurrentMailBox)
UNUSED_HOST_FUNCTION(ZDA_SetCurrentMailBox)
UNUSED_HOST_FUNCTION(ZDA_SetCurrentFolder)
UNUSED_HOST_FUNCTION(ZDA_GetFolderDisplayName)
UNUSED_HOST_FUNCTION(ZDA_SetMessageText)
UNUSED_HOST_FUNCTION(ZDA_GetCurrentMail)
UNUSED_HOST_FUNCTION(ZDA_SetCurrentMail)
UNUSED_HOST_FUNCTION(ZDA_GetNextMail)
UNUSED_HOST_FUNCTION(ZDA_SetSel)
UNUSED_HOST_FUNCTION(ZDA_AppendMessage)
UNUSED_HOST_FUNCTION(ZDA_MoveSelectedMessages)
UNUSED_HOST_FUNCTION(ZDA_GetStatus)
UNUSED_HOST_FUNCTION(ZDA_ComposeMail)
UNUSED_HOST_FUNCTION(ZDA_GetCharSet)
UNUSED_HOST_FUNCTION(ZDA_GetHeader)
UNUSED_HOST_FUNCTION(ZDA_GetText)
UNUSED_HOST_FUNCTION(ZDA_GetSpecifiedHeader)
UNUSED_HOST_FUNCTION(ZDA_SetSpecifiedHeader)
UNUSED_HOST_FUNCTION(ZDA_CompGetCharSet)
UNUSED_HOST_FUNCTION(ZDA_CompGetHeader)
UNUSED_HOST_FUNCTION(ZDA_CompGetText)
UNUSED_HOST_FUNCTION(ZDA_CompSetText)
UNUSED_HOST_FUNCTION(ZDA_CompAttachFile)
UNUSED_HOST_FUNCTION(ZDA_Alloc)
UNUSED_HOST_FUNCTION(ZDA_ReAlloc)
UNUSED_HOST_FUNCTION(ZDA_ISO_2022_JP)
UNUSED_HOST_FUNCTION(ZDA_ISO_2022_KR)
UNUSED_HOST_FUNCTION(ZDA_HZ_GB2312)
UNUSED_HOST_FUNCTION(ZDA_ISO_8859_2)
UNUSED_HOST_FUNCTION(ZDA_EUC_JP)
UNUSED_HOST_FUNCTION(ZDA_UTF_7)
UNUSED_HOST_FUNCTION(ZDA_UTF_8)
UNUSED_HOST_FUNCTION(ZDA_B64Convert)
UNUSED_HOST_FUNCTION(ZDA_QPConvert)
UNUSED_HOST_FUNCTION(ZDA_MIMEHeader)
UNUSED_HOST_FUNCTION(ZDA_SerializeRcpts)
#ifndef ZHOST_WITHOUT_CONNECT
UNUSED_HOST_FUNCTION(ZDA_Connect)
#endif
