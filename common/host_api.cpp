#include "common/host_api.h"

// Each name's slot is the number written beside it.
#define HOST_API_SLOT_CHECK(name, slot) static_assert(SLOT_##name == slot, #name);
HOST_API_SLOTS(HOST_API_SLOT_CHECK)
#undef HOST_API_SLOT_CHECK
static_assert(HOST_API_SLOT_COUNT == 54, "the host has 54 functions");

const char* const kHostApiNames[HOST_API_SLOT_COUNT] = {
#define HOST_API_SLOT_NAME(name, slot) #name,
    HOST_API_SLOTS(HOST_API_SLOT_NAME)
#undef HOST_API_SLOT_NAME
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
