// Menu initialisation and the main-window command callbacks.
#include "host/host_api.h"
#include "host/plugin_interface.h"
#include "incoming/decrypt_verify.h"
#include "outgoing/encrypt.h"
#include "outgoing/sign.h"
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
    {"S/MIME 復号/検証", "S/MIMEメッセージの復号と検証", OnDecryptVerifyCommand},
    {"S/MIME 設定", "S/MIMEPlug-inの設定", OnSetupCommand},
};

static const MenuCommand kComposeCommands[] = {
    {"S/MIME 暗号化", "メッセージをS/MIMEで暗号化", OnEncryptCommand},
    {"S/MIME 署名", "メッセージにS/MIMEで電子署名", OnSignCommand},
    {"S/MIME 暗号化+署名", "メッセージにS/MIMEで暗号化+電子署名", OnSignEncryptCommand},
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
