// The exported events: information record, menus, setup, opening a message.
#include <string.h>

#include "support/test_support.h"

class EventsTest : public PluginFixture {
protected:
    struct MenuItemView {
        std::string text;
        bool separator;
        UINT id;
    };

    static std::vector<MenuItemView> Items(HMENU submenu)
    {
        std::vector<MenuItemView> items;
        for (int i = 0; i < GetMenuItemCount(submenu); ++i) {
            char text[256] = "";
            GetMenuStringA(submenu, (UINT)i, text, sizeof text, MF_BYPOSITION);
            bool separator = (GetMenuState(submenu, (UINT)i, MF_BYPOSITION) & MF_SEPARATOR) != 0;
            items.push_back({text, separator, GetMenuItemID(submenu, i)});
        }
        return items;
    }
};

TEST_F(EventsTest, PluginInfoFillsFourFieldsInOrder)
{
    Load();
    ZPluginInfo info;
    memset(&info, 0x55, sizeof info);
    EXPECT_EQ(plugin_.PlugInInfo(&info), 0);
    EXPECT_STREQ(info.name, "Zandrel S/MIME Plug-in");
    EXPECT_STREQ(info.vendor, "Zandrel S/MIME Plug-in Developers");
    EXPECT_STREQ(info.description, "Enables Zandrel to use S/MIME");
    // "v0.9.2 build at Sep  7 2002 17:57:34": the build's date and time.
    std::string version = info.version;
    ASSERT_EQ(version.size(), strlen("v0.9.2 build at Sep  7 2002 17:57:34"));
    EXPECT_EQ(version.substr(0, 16), "v0.9.2 build at ");
    EXPECT_EQ(version[19], ' ');
    EXPECT_EQ(version[27], ' ');
    EXPECT_EQ(version[30], ':');
}

TEST_F(EventsTest, MainMenuGetsSeparatorAndTwoCommandsAtPositionFour)
{
    Load();
    HMENU menu = BuildMainMenu();
    plugin_.MenuInit(kMainWindow, menu, MENU_TYPE_MAIN);
    ASSERT_EQ(Host().commands.size(), 2u);
    EXPECT_EQ(Host().commands[0].description, "S/MIMEメッセージの復号と検証");
    EXPECT_EQ(Host().commands[1].description, "S/MIMEPlug-inの設定");
    EXPECT_EQ(Host().commands[0].menuType, 0);

    std::vector<MenuItemView> items = Items(GetSubMenu(menu, 4));
    ASSERT_EQ(items.size(), 4u);  // the host's own item, then ours
    EXPECT_TRUE(items[1].separator);
    EXPECT_EQ(items[2].text, "S/MIME 復号/検証");
    EXPECT_EQ(items[2].id, (UINT)Host().commands[0].id);
    EXPECT_EQ(items[3].text, "S/MIME 設定");
    EXPECT_EQ(items[3].id, (UINT)Host().commands[1].id);
    EXPECT_EQ(Items(GetSubMenu(menu, 3)).size(), 1u);
    DestroyMenu(menu);
}

TEST_F(EventsTest, ComposeMenuGetsThreeCommandsAtPositionThree)
{
    Load();
    HMENU menu = BuildComposeMenu();
    plugin_.MenuInit(kComposeWindow, menu, MENU_TYPE_COMPOSE);
    ASSERT_EQ(Host().commands.size(), 3u);
    EXPECT_EQ(Host().commands[0].description, "メッセージをS/MIMEで暗号化");
    EXPECT_EQ(Host().commands[1].description, "メッセージにS/MIMEで電子署名");
    EXPECT_EQ(Host().commands[2].description, "メッセージにS/MIMEで暗号化+電子署名");
    std::vector<MenuItemView> items = Items(GetSubMenu(menu, 3));
    ASSERT_EQ(items.size(), 5u);
    EXPECT_TRUE(items[1].separator);
    EXPECT_EQ(items[2].text, "S/MIME 暗号化");
    EXPECT_EQ(items[3].text, "S/MIME 署名");
    EXPECT_EQ(items[4].text, "S/MIME 暗号化+署名");
    EXPECT_EQ(items[4].id, (UINT)Host().commands[2].id);
    DestroyMenu(menu);
}

TEST_F(EventsTest, OtherMenuTypesAddAndRegisterNothing)
{
    Load();
    for (int type : {1, 11, -1}) {
        HMENU menu = BuildMainMenu();
        plugin_.MenuInit(kMainWindow, menu, type);
        EXPECT_EQ(Items(GetSubMenu(menu, 4)).size(), 1u);
        EXPECT_EQ(Items(GetSubMenu(menu, 3)).size(), 1u);
        DestroyMenu(menu);
    }
    EXPECT_TRUE(Host().commands.empty());
}

TEST_F(EventsTest, MenuInitTwiceAppendsEverythingTwice)
{
    Load();
    HMENU menu = BuildMainMenu();
    plugin_.MenuInit(kMainWindow, menu, MENU_TYPE_MAIN);
    plugin_.MenuInit(kMainWindow, menu, MENU_TYPE_MAIN);
    EXPECT_EQ(Host().commands.size(), 4u);
    std::vector<MenuItemView> items = Items(GetSubMenu(menu, 4));
    ASSERT_EQ(items.size(), 7u);
    EXPECT_TRUE(items[4].separator);
    EXPECT_NE(items[2].id, items[5].id);
    DestroyMenu(menu);
}

TEST_F(EventsTest, MissingSubmenuStillRegistersCommands)
{
    Load();
    HMENU menu = CreateMenu();  // no submenus at all
    plugin_.MenuInit(kComposeWindow, menu, MENU_TYPE_COMPOSE);
    EXPECT_EQ(Host().commands.size(), 3u);
    DestroyMenu(menu);
}

TEST_F(EventsTest, PlugInSetupReturnsOne)
{
    Load();
    EXPECT_EQ(plugin_.PlugInSetup(kMainWindow), 1);
}

TEST_F(EventsTest, OpenMailInARemoteFolderFetchesNothing)
{
    WriteSettings({"receivingBehavior=Popup"});
    Load();
    Host().hasMessage = true;
    Host().message = "Content-Type: application/pkcs7-mime; smime-type=enveloped-data\r\n"
                     "Content-Transfer-Encoding: base64\r\n\r\nMIAGCSqGSIb3DQEHA6CAMIACAQAx\r\n";
    for (const char* folder : {"", "Inbox", "C:\\Inbox", "\\\\"}) {
        Host().folder = folder;
        EXPECT_EQ(plugin_.OpenMail(), 0);
    }
    EXPECT_EQ(Host().getSourceCalls, 1);  // only the two-backslash path
    Host().hasFolder = false;
    EXPECT_EQ(plugin_.OpenMail(), 0);
    EXPECT_EQ(Host().getSourceCalls, 1);
}

TEST_F(EventsTest, OpenMailWithoutMessageDoesNothing)
{
    Load();
    Host().hasMessage = false;
    EXPECT_EQ(plugin_.OpenMail(), 0);
    EXPECT_EQ(Host().getSourceCalls, 1);
    EXPECT_TRUE(Host().transcript.empty());
}

TEST_F(EventsTest, OpenMailReleasesTheSource)
{
    Load();
    Host().hasMessage = true;
    Host().message = "Subject: plain\r\n\r\nhello\r\n";
    plugin_.OpenMail();
    EXPECT_EQ(Host().getSourceCalls, 1);
    EXPECT_EQ(Host().liveTexts, 0);
    EXPECT_EQ(Host().badFrees, 0);
    EXPECT_TRUE(Host().notices.empty());
}
