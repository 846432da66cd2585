// The settings file beside the module: path rule, defaults, limits.
#include <string.h>

#include <filesystem>

#include <zplatform.h>

#include "settings/settings.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

class SettingsTest : public PluginFixture {
protected:
    // Reads the settings the way the module entry does, for the loaded copy.
    void LoadLikeTheModule()
    {
        Load();
        LoadSettings(reinterpret_cast<HINSTANCE>(plugin_.module));
    }
};

TEST_F(SettingsTest, DefaultsWithoutAFile)
{
    LoadLikeTheModule();
    EXPECT_STREQ(g_settings.encAlg, "AES(256bit)");
    EXPECT_STREQ(g_settings.encCert, "");
    EXPECT_STREQ(g_settings.signHashOID, "2.16.840.1.101.3.4.2.1");
    EXPECT_STREQ(g_settings.signCert, "");
    EXPECT_STREQ(g_settings.useOLStore, "NO");
    EXPECT_STREQ(g_settings.detachedSig, "NO");
    EXPECT_STREQ(g_settings.receivingBehavior, "AddNotice");
    EXPECT_STREQ(g_settings.debug, "NO");
}

TEST_F(SettingsTest, PathIsTheModulePathWithIni)
{
    LoadLikeTheModule();
    EXPECT_EQ(std::string(g_settingsPath), SettingsPath());
}

TEST_F(SettingsTest, ValuesAreReadVerbatimAndCutAt1023)
{
    std::string longValue(1100, 'x');
    WriteSettings({"encAlg=3DES", "detachedSig=yes", "receivingBehavior=", "signCert=" + longValue,
                   "debug=YES"});
    LoadLikeTheModule();
    EXPECT_STREQ(g_settings.encAlg, "3DES");
    EXPECT_STREQ(g_settings.detachedSig, "yes");
    EXPECT_FALSE(SettingIsYes(g_settings.detachedSig));
    EXPECT_STREQ(g_settings.receivingBehavior, "");
    EXPECT_EQ(strlen(g_settings.signCert), 1023u);
    EXPECT_EQ(std::string(g_settings.signCert), longValue.substr(0, 1023));
    EXPECT_TRUE(DebugEnabled());
}

TEST_F(SettingsTest, PathWithoutDotInFileNameReplacesFromTheFolderDot)
{
    fs::create_directory(dir_.File("mail.plugins"));
    modulePath_ = dir_.File("mail.plugins/zsmime");
    fs::copy_file(ZSMIME_PLUGIN_PATH, modulePath_);
    WriteFile(dir_.File("mail.ini"), "[Settings]\r\nencAlg=DES\r\n");
    LoadLikeTheModule();
    EXPECT_EQ(std::string(g_settingsPath), dir_.File("mail.ini"));
    EXPECT_STREQ(g_settings.encAlg, "DES");
}

TEST_F(SettingsTest, PathWithoutAnyDotGetsIniAppended)
{
    // A temporary folder name may contain no '.', so build one that surely has none.
    TempDir plain;
    ASSERT_EQ(plain.path().find('.'), std::string::npos);
    modulePath_ = plain.File("zsmime");
    fs::copy_file(ZSMIME_PLUGIN_PATH, modulePath_);
    LoadLikeTheModule();
    EXPECT_EQ(std::string(g_settingsPath), plain.File("zsmime.ini"));
}

TEST_F(SettingsTest, PathIsBesideTheLinkTheModuleWasLoadedThrough)
{
    TempDir links;
    modulePath_ = links.File("zsmime.dll");
    fs::create_symlink(ZSMIME_PLUGIN_PATH, modulePath_);
    LoadLikeTheModule();
    EXPECT_EQ(std::string(g_settingsPath), links.File("zsmime.ini"));
}

TEST_F(SettingsTest, ModulePathLongerThanTheBufferGivesDefaultsAndNoFile)
{
    // Cut at 259 bytes the path would end inside "folder.long...", whose '.'
    // would name a file in a parent folder.
    std::string folder = dir_.File("folder.long");
    while (folder.size() < 300)
        folder += "/" + std::string(40, 'd');
    fs::create_directories(folder);
    modulePath_ = folder + "/zsmime.dll";
    fs::copy_file(ZSMIME_PLUGIN_PATH, modulePath_);
    WriteFile(dir_.File("folder.ini"), "[Settings]\r\nencAlg=DES\r\n");
    LoadLikeTheModule();
    EXPECT_STREQ(g_settingsPath, "");
    EXPECT_STREQ(g_settings.encAlg, "AES(256bit)");
    Settings next = g_settings;
    EXPECT_EQ(SaveSettings(next), SAVE_NO_PATH);
}

TEST_F(SettingsTest, SaveSettingsWritesAllKeysOrNoneOfThem)
{
    WriteSettings({"encAlg=DES", "debug=NO", "other=kept"});
    LoadLikeTheModule();
    Settings next = g_settings;
    strcpy(next.encAlg, "3DES");
    strcpy(next.useOLStore, "YES");

    // The third write fails: the first two are put back, nothing is loaded.
    ZPlatformInjectFailure("WritePrivateProfileStringA", 2);
    EXPECT_EQ(SaveSettings(next), SAVE_WRITE_FAILED);
    ZPlatformInjectFailure(NULL, 0);
    EXPECT_STREQ(g_settings.encAlg, "DES");
    EXPECT_STREQ(g_settings.useOLStore, "NO");
    EXPECT_EQ(ReadFile(SettingsPath()), "[Settings]\r\nencAlg=DES\r\ndebug=NO\r\nother=kept\r\nencCert=\r\n");

    EXPECT_EQ(SaveSettings(next), SAVE_DONE);
    EXPECT_STREQ(g_settings.encAlg, "3DES");
    EXPECT_STREQ(g_settings.useOLStore, "YES");
    EXPECT_EQ(ReadFile(SettingsPath()),
              "[Settings]\r\nencAlg=3DES\r\ndebug=NO\r\nother=kept\r\nencCert=\r\nsignHashOID=2.16.840.1.101.3.4.2.1\r\n"
              "signCert=\r\nuseOLStore=YES\r\ndetachedSig=NO\r\nreceivingBehavior=AddNotice\r\n");
}
