// Menu initialisation and the main-window command callbacks.
#include "common/host_api.h"
#include "common/user_texts.h"
#include "host/plugin_interface.h"
#include "incoming/decrypt_verify.h"
#include "outgoing/commands.h"
#include "settings/setup_dialog.h"

static void WINAPI OnDecryptVerifyCommand(HWND, LPARAM)
{
    DecryptVerifyCommand();
}

static void WINAPI OnSetupCommand(HWND window, LPARAM)
{
    OpenSetupDialog(window);
}

struct MenuCommand {
    const char* itemText;
    const char* description;
    ZCommandCallback callback;
};

static const MenuCommand kMainCommands[] = {
    {TEXT_MENU_DECRYPT_VERIFY, TEXT_MENU_DECRYPT_VERIFY_DESCRIPTION, OnDecryptVerifyCommand},
    {TEXT_MENU_SETUP, TEXT_MENU_SETUP_DESCRIPTION, OnSetupCommand},
};

static const MenuCommand kComposeCommands[] = {
    {TEXT_MENU_ENCRYPT, TEXT_MENU_ENCRYPT_DESCRIPTION, OnEncryptCommand},
    {TEXT_MENU_SIGN, TEXT_MENU_SIGN_DESCRIPTION, OnSignCommand},
    {TEXT_MENU_SIGN_ENCRYPT, TEXT_MENU_SIGN_ENCRYPT_DESCRIPTION, OnSignEncryptCommand},
};

template <size_t N>
static void AddCommands(HMENU menu, int position, int menuType, const MenuCommand (&commands)[N])
{
    HMENU submenu = GetSubMenu(menu, position);
    AppendMenuA(submenu, MF_SEPARATOR, 0, NULL);
    for (const MenuCommand& command : commands) {
        int id = g_host.RegisterCommand(command.description, menuType, command.callback);
        AppendMenuA(submenu, MF_STRING, (UINT_PTR)id, command.itemText);
    }
}

int WINAPI ZDC_OnMenuInit(HWND, HMENU menu, int menuType)
{
    if (menuType == MENU_TYPE_MAIN)
        AddCommands(menu, 4, menuType, kMainCommands);
    else if (menuType == MENU_TYPE_COMPOSE)
        AddCommands(menu, 3, menuType, kComposeCommands);
    return 0;
}
