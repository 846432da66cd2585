// zhost's command line: a public interface.
#include "support/test_support.h"

namespace {

ProcessResult Zhost(const std::vector<std::string>& args, const std::string& dataHome = "/nonexistent")
{
    std::vector<std::string> argv = {ZHOST_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv, {"XDG_DATA_HOME=" + dataHome});
}

}  // namespace

TEST(ZhostCliTest, InfoPrintsOneFieldALine)
{
    ProcessResult r = Zhost({"info"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.find("name: Zandrel S/MIME Plug-in\nvendor: Zandrel S/MIME Plug-in Developers\nversion: v0.9.2 build at "), 0u);
    EXPECT_NE(r.out.find("\ndescription: Enables Zandrel to use S/MIME\n"), std::string::npos);
}

TEST(ZhostCliTest, MenuShowsBothMenusAndTheFiveCommands)
{
    ProcessResult r = Zhost({"menu"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* expected :
         {u8"S/MIME 復号/検証 (id 40001)", u8"S/MIME 設定 (id 40002)", u8"S/MIME 暗号化 (id 40003)",
          u8"40005 type 10: メッセージにS/MIMEで暗号化+電子署名"})
        EXPECT_NE(r.out.find(expected), std::string::npos) << expected;
}

TEST(ZhostCliTest, UsageErrorsExitWithTwo)
{
    EXPECT_EQ(Zhost({}).exitCode, 2);
    EXPECT_EQ(Zhost({"frobnicate"}).exitCode, 2);
    EXPECT_EQ(Zhost({"--answer", "maybe", "info"}).exitCode, 2);
    EXPECT_EQ(Zhost({"open"}).exitCode, 2);
    EXPECT_EQ(Zhost({"open", "/nonexistent/message.eml"}).exitCode, 2);
    ProcessResult r = Zhost({"--plugin", "/nonexistent/zsmime.so", "info"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("cannot load the plug-in"), std::string::npos);
}

TEST(ZhostCliTest, OpenWritesTheCurrentMessageByteForByte)
{
    TempDir dir;
    std::string message = "Subject: x\nno CR here\r\n\r\n\x83\x65\x83\x58\x83\x67\r\n";
    WriteFile(dir.File("in.eml"), message);
    ProcessResult r = Zhost({"open", dir.File("in.eml"), "-o", dir.File("out.eml")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(dir.File("out.eml")), message);
    EXPECT_EQ(r.err, "");
}
