#include "outgoing_support.h"

#include <sys/stat.h>

#include "zhost/zhost.h"

const char kEncryptCommand[] = "メッセージをS/MIMEで暗号化";
const char kSignCommand[] = "メッセージにS/MIMEで電子署名";
const char kSignEncryptCommand[] = "メッセージにS/MIMEで暗号化+電子署名";

std::string ComposedMessage(const std::string& headers)
{
    return "From: Alice <alice@example.com>\r\n" + headers +
           "Subject: quarterly figures\r\n"
           "MIME-Version: 1.0\r\n"
           "Content-Type: text/plain; charset=us-ascii\r\n"
           "Content-Transfer-Encoding: 7bit\r\n"
           "\r\n"
           "Hello Bob,\r\n"
           "the figures are attached below.\r\n"
           "\r\n"
           "-- \r\n"
           "Alice\r\n";
}

void OutgoingTest::InstallPki()
{
    InstallCert("Root", pki().Get("root"));
    InstallCert("MY", pki().Get("alice"), true);
    InstallCert("CA", pki().Get("bob"));
    InstallCert("CA", pki().Get("carol"));
}

void OutgoingTest::LoadWith(const std::vector<std::string>& settings)
{
    if (plugin_.module != NULL)
        plugin_.Unload();
    WriteSettings(settings);
    Load();
}

std::string OutgoingTest::Run(const char* description, const std::string& text)
{
    Host().hasComposer = true;
    Host().composer = text;
    Host().transcript.clear();
    EXPECT_TRUE(RunMenuCommand(plugin_, MENU_TYPE_COMPOSE, description, kComposeWindow));
    EXPECT_EQ(Host().liveTexts, 0) << "a host text was not released";
    EXPECT_EQ(Host().badFrees, 0);
    return Host().composer;
}

std::vector<std::string> OutgoingTest::Boxes() const
{
    std::vector<std::string> boxes;
    for (const std::string& line : Host().transcript)
        if (line.compare(0, 5, "box: ") == 0)
            boxes.push_back(line);
    return boxes;
}

std::string OutgoingTest::Stamped(std::string text, const std::string& result)
{
    std::string value = ComposerHeader(result, "X-SMIME-Plugin");
    EXPECT_EQ(value.compare(0, 39, "Zandrel S/MIME Plug-in v0.9.2 build at "), 0) << value;
    SetComposerHeader(text, "X-SMIME-Plugin", value.c_str());
    return text;
}

std::string OpensslPath()
{
    struct stat st;
    return stat("/usr/bin/openssl", &st) == 0 ? "/usr/bin/openssl" : "/usr/local/bin/openssl";
}

ProcessResult Openssl(const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {OpensslPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv);
}

std::string OutgoingTest::Decrypt(const std::string& message, const TestCert& cert, bool* ok, bool useSmime)
{
    std::string in = dir_.File("peer-in.eml"), out = dir_.File("peer-out");
    WriteFile(in, message);
    ProcessResult r = Openssl({useSmime ? "smime" : "cms", "-decrypt", "-binary", "-provider", "legacy", "-provider",
                               "default", "-in", in, "-recip", cert.certPem, "-inkey", cert.keyPem, "-out", out});
    *ok = r.exitCode == 0;
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return ReadFile(out);
}

std::string OutgoingTest::Verify(const std::string& message, bool* ok, bool withRoot)
{
    std::string in = dir_.File("peer-in.eml"), out = dir_.File("peer-out");
    WriteFile(in, message);
    // multipart/signed is read in text mode, which takes the line end before
    // the delimiter as the delimiter's; opaque data is taken as it is.
    std::vector<std::string> args = {"cms", "-verify", "-in", in, "-out", out};
    if (message.find("multipart/signed") == std::string::npos)
        args.push_back("-binary");
    if (withRoot) {
        args.push_back("-CAfile");
        args.push_back(pki().Get("root").certPem);
    } else {
        args.push_back("-noverify");
    }
    ProcessResult r = Openssl(args);
    *ok = r.exitCode == 0;
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return ReadFile(out);
}
