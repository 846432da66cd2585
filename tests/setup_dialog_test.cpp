// The setup dialog, run in the loaded plug-in: what it shows for the loaded
// settings and the certificates of "MY", and what OK and Cancel save.
#include <ctype.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <zplatform.h>

#include "resources/resource.h"
#include "support/test_pki.h"
#include "support/test_support.h"
#include "zhost/dialog_script.h"

namespace {

const char kFromItem[] = "From: ヘッダーを元に検索";
const char kAddNoticeItem[] =
    "メッセージに追加する形で通知 (ただしクリアテキスト署名されたメッセージの場合は何もしない)";

struct DialogRun {
    bool opened = false;
    DialogState before;  // right after the initialisation
    DialogState after;   // after the user's actions, before the dialog goes
    bool ended = false;
    INT_PTR result = 0;  // the dialog's own result
    int eventResult = 0; // what ZDC_OnPlugInSetup returned
    std::function<void(HWND)> play;
};

void Drive(void* context, HWND dialog)
{
    DialogRun* run = static_cast<DialogRun*>(context);
    run->opened = true;
    run->before = ReadDialogState(dialog);
    if (run->play)
        run->play(dialog);
    run->after = ReadDialogState(dialog);
    run->ended = ZPlatformDialogEnded(dialog, NULL) != FALSE;
}

const DialogControlState& Control(const DialogState& state, int id)
{
    for (const DialogControlState& c : state.controls)
        if (c.id == id)
            return c;
    static DialogControlState missing;
    ADD_FAILURE() << "no control " << id;
    return missing;
}

std::string Selected(const DialogState& state, int id)
{
    const DialogControlState& c = Control(state, id);
    return c.selection >= 0 ? c.items[c.selection] : std::string("(none)");
}

void Act(HWND dialog, DialogAction::Kind kind, int id = 0, int position = -1)
{
    DialogAction action;
    action.kind = kind;
    action.id = id;
    action.position = position;
    std::string error;
    EXPECT_TRUE(PlayDialogAction(dialog, action, &error)) << error;
}

void Choose(HWND dialog, int list, const std::string& item)
{
    DialogAction action;
    action.kind = DialogAction::SELECT;
    action.id = list;
    action.item = item;
    std::string error;
    EXPECT_TRUE(PlayDialogAction(dialog, action, &error)) << error;
}

bool HasItem(const DialogState& state, int id, const std::string& item)
{
    const std::vector<std::string>& items = Control(state, id).items;
    return std::find(items.begin(), items.end(), item) != items.end();
}

}  // namespace

class SetupDialogTest : public PluginFixture {
protected:
    void TearDown() override
    {
        ZPlatformSetDialogHandler(NULL, NULL);
        PluginFixture::TearDown();
    }

    DialogRun Open(std::function<void(HWND)> play = nullptr)
    {
        DialogRun run;
        run.play = std::move(play);
        ZPlatformSetDialogHandler(Drive, &run);
        run.eventResult = plugin_.PlugInSetup(kMainWindow);
        ZPlatformSetDialogHandler(NULL, NULL);
        run.result = ZPlatformLastDialogResult();
        EXPECT_TRUE(run.opened);
        return run;
    }

    // The settings file as (key, value) lines, in file order.
    std::vector<std::pair<std::string, std::string>> SavedLines() const
    {
        std::vector<std::pair<std::string, std::string>> lines;
        std::string text = ReadFile(SettingsPath());
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
            start = end == std::string::npos ? text.size() : end + 1;
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            size_t eq = line.find('=');
            if (eq != std::string::npos)
                lines.push_back({line.substr(0, eq), line.substr(eq + 1)});
        }
        return lines;
    }

    // The saved value of a key, or "(absent)".
    std::string Saved(const std::string& key) const
    {
        for (const auto& line : SavedLines())
            if (line.first == key)
                return line.second;
        return "(absent)";
    }

    std::vector<std::string> Boxes() const
    {
        std::vector<std::string> boxes;
        for (const std::string& line : Host().transcript)
            if (line.compare(0, 5, "box: ") == 0)
                boxes.push_back(line);
        return boxes;
    }

    static std::string MessageBoxLine(const char* sjisText)
    {
        return "box: [" + Utf8("メッセージ") + "] " + Utf8(sjisText);
    }
};

TEST_F(SetupDialogTest, WithoutSettingsFileShowsTheDefaultsAndCancelSavesNothing)
{
    Load();
    DialogRun run = Open();
    const DialogState& s = run.before;
    EXPECT_STREQ(s.caption.c_str(), "S/MIME動作設定");
    EXPECT_EQ(s.focusId, IDOK);
    EXPECT_EQ(Control(s, IDC_VERSION).text.compare(0, 39, "Zandrel S/MIME Plug-in v0.9.2 build at "), 0)
        << Control(s, IDC_VERSION).text;
    EXPECT_EQ(Control(s, IDC_ENC_ALG).items,
              (std::vector<std::string>{"RC2(40bit)", "DES", "RC2(128bit)", "3DES", "AES(128bit)", "AES(256bit)"}));
    EXPECT_EQ(Selected(s, IDC_ENC_ALG), "AES(256bit)");
    EXPECT_EQ(Control(s, IDC_ENC_CERT).items, std::vector<std::string>{kFromItem});
    EXPECT_EQ(Selected(s, IDC_ENC_CERT), kFromItem);
    EXPECT_EQ(Control(s, IDC_SIGN_CERT).items, std::vector<std::string>{kFromItem});
    EXPECT_EQ(Selected(s, IDC_SIGN_CERT), kFromItem);
    EXPECT_EQ(Control(s, IDC_HASH_ALG).items,
              (std::vector<std::string>{"SHA-1", "MD5", "SHA-256", "SHA-384", "SHA-512"}));
    EXPECT_EQ(Selected(s, IDC_HASH_ALG), "SHA-256");
    EXPECT_FALSE(Control(s, IDC_USE_OL_STORE).checked);
    EXPECT_FALSE(Control(s, IDC_DETACHED_SIG).checked);
    EXPECT_FALSE(Control(s, IDC_DEBUG).checked);
    EXPECT_EQ(Control(s, IDC_RECEIVING_BEHAVIOR).items,
              (std::vector<std::string>{"メッセージ選択時に自動検証", "メッセージ選択時にポップアップで通知",
                                        kAddNoticeItem, "何もしない"}));
    EXPECT_EQ(Selected(s, IDC_RECEIVING_BEHAVIOR), kAddNoticeItem);
    EXPECT_TRUE(Boxes().empty());

    EXPECT_EQ(run.result, IDCANCEL);
    EXPECT_EQ(run.eventResult, 1);
    struct stat st;
    EXPECT_NE(stat(SettingsPath().c_str(), &st), 0) << "nothing is written on cancel";
}

TEST_F(SetupDialogTest, OkWithoutChangesWritesAllEightKeysInOrder)
{
    Load();
    DialogRun run = Open([](HWND d) { Act(d, DialogAction::OK); });
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(run.result, IDOK);
    EXPECT_EQ(run.eventResult, 1);
    std::vector<std::pair<std::string, std::string>> expected = {
        {"encAlg", "AES(256bit)"}, {"encCert", ""},          {"signHashOID", "2.16.840.1.101.3.4.2.1"},
        {"signCert", ""},         {"useOLStore", "NO"},    {"detachedSig", "NO"},
        {"receivingBehavior", "AddNotice"}, {"debug", "NO"},
    };
    EXPECT_EQ(SavedLines(), expected);
}

TEST_F(SetupDialogTest, EveryChoiceIsSavedAsItsSettingValue)
{
    WriteSettings({"encAlg=DES", "encCert=", "signHashOID=1.2.840.113549.2.5", "signCert=", "useOLStore=YES",
                   "detachedSig=YES", "receivingBehavior=Popup", "debug=YES"});
    Load();
    DialogRun run = Open([](HWND d) {
        Act(d, DialogAction::SELECT, IDC_ENC_ALG, 2);
        Act(d, DialogAction::SELECT, IDC_HASH_ALG, 0);
        Act(d, DialogAction::UNCHECK, IDC_USE_OL_STORE);
        Act(d, DialogAction::UNCHECK, IDC_DETACHED_SIG);
        Act(d, DialogAction::UNCHECK, IDC_DEBUG);
        Act(d, DialogAction::SELECT, IDC_RECEIVING_BEHAVIOR, 0);
        Act(d, DialogAction::OK);
    });
    const DialogState& s = run.before;
    EXPECT_EQ(Selected(s, IDC_ENC_ALG), "DES");
    EXPECT_EQ(Selected(s, IDC_HASH_ALG), "MD5");
    EXPECT_TRUE(Control(s, IDC_USE_OL_STORE).checked);
    EXPECT_TRUE(Control(s, IDC_DETACHED_SIG).checked);
    EXPECT_TRUE(Control(s, IDC_DEBUG).checked);
    EXPECT_EQ(Selected(s, IDC_RECEIVING_BEHAVIOR), "メッセージ選択時にポップアップで通知");
    std::vector<std::pair<std::string, std::string>> expected = {
        {"encAlg", "RC2(128bit)"}, {"encCert", ""},          {"signHashOID", "1.3.14.3.2.26"},
        {"signCert", ""},          {"useOLStore", "NO"},    {"detachedSig", "NO"},
        {"receivingBehavior", "AutoVerify"}, {"debug", "NO"},
    };
    EXPECT_EQ(SavedLines(), expected);

    // And back the other way, from the values just saved.
    run = Open([](HWND d) {
        Act(d, DialogAction::SELECT, IDC_ENC_ALG, 4);
        Act(d, DialogAction::SELECT, IDC_HASH_ALG, 4);
        Act(d, DialogAction::CHECK, IDC_USE_OL_STORE);
        Act(d, DialogAction::CHECK, IDC_DETACHED_SIG);
        Act(d, DialogAction::CHECK, IDC_DEBUG);
        Act(d, DialogAction::SELECT, IDC_RECEIVING_BEHAVIOR, 3);
        Act(d, DialogAction::OK);
    });
    EXPECT_EQ(Selected(run.before, IDC_RECEIVING_BEHAVIOR), "メッセージ選択時に自動検証");
    expected = {
        {"encAlg", "AES(128bit)"}, {"encCert", ""},          {"signHashOID", "2.16.840.1.101.3.4.2.3"},
        {"signCert", ""},          {"useOLStore", "YES"},   {"detachedSig", "YES"},
        {"receivingBehavior", "Nothing"}, {"debug", "YES"},
    };
    EXPECT_EQ(SavedLines(), expected);
}

TEST_F(SetupDialogTest, UnknownBehaviourShowsDoNothingAndCaseCounts)
{
    WriteSettings({"receivingBehavior=popup", "useOLStore=yes"});
    Load();
    DialogRun run = Open();
    EXPECT_EQ(Selected(run.before, IDC_RECEIVING_BEHAVIOR), "何もしない");
    EXPECT_FALSE(Control(run.before, IDC_USE_OL_STORE).checked);
}

TEST_F(SetupDialogTest, UnknownEncryptionAlgorithmIsReportedAndOkWaitsForAChoice)
{
    WriteSettings({"encAlg=AES"});
    Load();
    std::string fileBefore = ReadFile(SettingsPath());
    std::string afterFirstOk;
    bool endedAfterFirstOk = true;
    DialogRun run = Open([&](HWND d) {
        Act(d, DialogAction::OK);
        endedAfterFirstOk = ZPlatformDialogEnded(d, NULL) != FALSE;
        afterFirstOk = ReadFile(SettingsPath());
        Choose(d, IDC_ENC_ALG, "3DES");
        Act(d, DialogAction::OK);
    });
    EXPECT_EQ(Boxes(), (std::vector<std::string>{MessageBoxLine("????? unknown encryption algorithm!"),
                                                 MessageBoxLine("暗号化アルゴリズムを選んでください")}));
    EXPECT_EQ(Control(run.before, IDC_ENC_ALG).selection, -1);
    EXPECT_EQ(run.before.focusId, IDOK) << "the initialisation goes on";
    EXPECT_EQ(Selected(run.before, IDC_HASH_ALG), "SHA-256");
    EXPECT_FALSE(endedAfterFirstOk);
    EXPECT_EQ(afterFirstOk, fileBefore);
    EXPECT_EQ(run.result, IDOK);
    ASSERT_FALSE(SavedLines().empty());
    EXPECT_EQ(SavedLines()[0], std::make_pair(std::string("encAlg"), std::string("3DES")));
}

TEST_F(SetupDialogTest, UnknownHashIsAskedForAndNothingIsSaved)
{
    WriteSettings({"encAlg=3DES", "signHashOID=2.16.840.1.101.3.4.2.4", "detachedSig=YES"});
    Load();
    std::string fileBefore = ReadFile(SettingsPath());
    bool ended = true;
    DialogRun run = Open([&ended](HWND d) {
        Choose(d, IDC_ENC_ALG, "DES");
        Act(d, DialogAction::OK);
        ended = ZPlatformDialogEnded(d, NULL) != FALSE;
    });
    EXPECT_EQ(Boxes(), std::vector<std::string>{MessageBoxLine("署名時ハッシュアルゴリズムを選んでください")});
    EXPECT_EQ(Control(run.before, IDC_HASH_ALG).selection, -1);
    EXPECT_FALSE(ended);
    EXPECT_EQ(run.result, IDCANCEL);
    EXPECT_EQ(ReadFile(SettingsPath()), fileBefore);
    EXPECT_EQ(Selected(Open().before, IDC_ENC_ALG), "3DES") << "the loaded value is unchanged";
}

TEST_F(SetupDialogTest, PersonalStoreThatCannotBeOpenedStopsTheInitialisation)
{
    WriteSettings({"encAlg=DES", "encCert=C=JP, CN=someone", "detachedSig=YES"});
    // A file where the stores' folder should be: no store can be opened.
    TempDir data;
    ASSERT_EQ(mkdir(data.File("zsmime").c_str(), 0700), 0);
    WriteFile(data.File("zsmime/stores"), "not a folder");
    setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    Load();
    bool ended = true;
    DialogRun run = Open([&ended](HWND d) {
        Act(d, DialogAction::OK);
        ended = ZPlatformDialogEnded(d, NULL) != FALSE;
    });
    EXPECT_EQ(Boxes(), std::vector<std::string>{MessageBoxLine("ルート証明書ストアを開けません")});
    const DialogState& s = run.before;
    EXPECT_EQ(s.focusId, 0) << "focus is not set";
    EXPECT_FALSE(Control(s, IDC_VERSION).text.empty());
    EXPECT_EQ(Selected(s, IDC_ENC_ALG), "DES");
    EXPECT_EQ(Control(s, IDC_ENC_CERT).items, std::vector<std::string>{kFromItem});
    EXPECT_EQ(Control(s, IDC_ENC_CERT).selection, -1);
    EXPECT_TRUE(Control(s, IDC_HASH_ALG).items.empty());
    EXPECT_TRUE(Control(s, IDC_SIGN_CERT).items.empty());
    EXPECT_TRUE(Control(s, IDC_RECEIVING_BEHAVIOR).items.empty());
    EXPECT_FALSE(Control(s, IDC_DETACHED_SIG).checked);
    // OK saves what the dialog showed; the keys it could not show keep their values.
    EXPECT_TRUE(ended);
    EXPECT_EQ(run.result, IDOK);
    std::vector<std::pair<std::string, std::string>> expected = {
        {"encAlg", "DES"}, {"encCert", "C=JP, CN=someone"}, {"detachedSig", "YES"}, {"signHashOID", "2.16.840.1.101.3.4.2.1"},
        {"signCert", ""}, {"useOLStore", "NO"}, {"receivingBehavior", "AddNotice"}, {"debug", "NO"},
    };
    EXPECT_EQ(SavedLines(), expected);
}

TEST_F(SetupDialogTest, PersonalStoreFailingAtTheSecondOpeningKeepsTheLaterKeys)
{
    const TestPki& pki = TestPki::Instance();
    InstallCert("MY", pki.Get("alice"), true);
    std::string alice = Sjis(pki.Get("alice").subject);
    WriteSettings({"encCert=" + alice, "signCert=" + alice, "useOLStore=YES", "detachedSig=YES",
                   "receivingBehavior=Popup", "debug=YES"});
    Load();
    ZPlatformInjectFailure("CertOpenSystemStoreA", 1);
    DialogRun run = Open([](HWND d) {
        Choose(d, IDC_ENC_CERT, kFromItem);
        Choose(d, IDC_HASH_ALG, "MD5");
        Act(d, DialogAction::OK);
    });
    ZPlatformInjectFailure(NULL, 0);
    EXPECT_EQ(Boxes(), std::vector<std::string>{MessageBoxLine("ルート証明書ストアを開けません")});
    EXPECT_TRUE(Control(run.before, IDC_SIGN_CERT).selection == -1);
    EXPECT_EQ(run.result, IDOK);
    std::vector<std::pair<std::string, std::string>> expected = {
        {"encCert", ""}, {"signCert", alice}, {"useOLStore", "YES"}, {"detachedSig", "YES"},
        {"receivingBehavior", "Popup"}, {"debug", "YES"}, {"encAlg", "AES(256bit)"}, {"signHashOID", "1.2.840.113549.2.5"},
    };
    EXPECT_EQ(SavedLines(), expected);
}

TEST_F(SetupDialogTest, FailedWriteIsToldAndKeepsDialogFileAndLoadedValues)
{
    WriteSettings({"encAlg=DES"});
    Load();
    std::string fileBefore = ReadFile(SettingsPath());
    bool ended = true;
    ZPlatformInjectFailure("WritePrivateProfileStringA", 3);
    DialogRun run = Open([&ended](HWND d) {
        Choose(d, IDC_ENC_ALG, "3DES");
        Act(d, DialogAction::OK);
        ended = ZPlatformDialogEnded(d, NULL) != FALSE;
    });
    ZPlatformInjectFailure(NULL, 0);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].find(MessageBoxLine("設定ファイルに書き込めません。設定は変更されていません\\n")), 0u)
        << Boxes()[0];
    EXPECT_FALSE(ended);
    std::vector<std::pair<std::string, std::string>> expected = {
        {"encAlg", "DES"}, {"encCert", ""}, {"signHashOID", "2.16.840.1.101.3.4.2.1"},
    };
    EXPECT_EQ(SavedLines(), expected) << "the keys written before the failure are put back";
    EXPECT_EQ(Selected(Open().before, IDC_ENC_ALG), "DES");
}

TEST_F(SetupDialogTest, CancelAfterChangesKeepsFileAndLoadedValues)
{
    WriteSettings({"encAlg=DES", "useOLStore=YES"});
    Load();
    std::string fileBefore = ReadFile(SettingsPath());
    DialogRun run = Open([](HWND d) {
        Act(d, DialogAction::SELECT, IDC_ENC_ALG, 3);
        Act(d, DialogAction::UNCHECK, IDC_USE_OL_STORE);
        Act(d, DialogAction::CHECK, IDC_DEBUG);
        Act(d, DialogAction::CANCEL);
    });
    EXPECT_EQ(run.result, IDCANCEL);
    EXPECT_EQ(run.eventResult, 1);
    EXPECT_EQ(ReadFile(SettingsPath()), fileBefore);
    // The dialog fills itself from the loaded values: they are unchanged too.
    run = Open();
    EXPECT_EQ(Selected(run.before, IDC_ENC_ALG), "DES");
    EXPECT_TRUE(Control(run.before, IDC_USE_OL_STORE).checked);
    EXPECT_FALSE(Control(run.before, IDC_DEBUG).checked);
}

TEST_F(SetupDialogTest, SavedValuesTakeEffectAtOnce)
{
    Load();
    Open([](HWND d) {
        Choose(d, IDC_ENC_ALG, "3DES");
        Act(d, DialogAction::SELECT, IDC_RECEIVING_BEHAVIOR, 3);
        Act(d, DialogAction::OK);
    });
    // Reopened in the same process, the dialog shows the values just saved.
    DialogRun run = Open();
    EXPECT_EQ(Selected(run.before, IDC_ENC_ALG), "3DES");
    EXPECT_EQ(Selected(run.before, IDC_RECEIVING_BEHAVIOR), "何もしない");
}

TEST_F(SetupDialogTest, ReceivingBehaviourChosenInTheDialogRulesTheNextOpenedMessage)
{
    Load();
    Host().hasMessage = true;
    Host().message =
        "From: alice@example.com\r\nTo: bob@example.com\r\nSubject: s\r\nMIME-Version: 1.0\r\n"
        "Content-Type: application/pkcs7-mime; smime-type=enveloped-data; name=\"smime.p7m\"\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\nMIAGCSqGSIb3DQEHA6CAMIACAQAxggE=\r\n";
    plugin_.OpenMail();
    if (Host().notices.empty())
        GTEST_SKIP() << "this build does not classify S/MIME messages yet";
    ASSERT_EQ(Host().notices.size(), 1u);
    Open([](HWND d) {
        Act(d, DialogAction::SELECT, IDC_RECEIVING_BEHAVIOR, 3);
        Act(d, DialogAction::OK);
    });
    plugin_.OpenMail();
    EXPECT_EQ(Host().notices.size(), 1u) << "\"Nothing\" adds no notice";
    Open([](HWND d) {
        Act(d, DialogAction::SELECT, IDC_RECEIVING_BEHAVIOR, 2);
        Act(d, DialogAction::OK);
    });
    plugin_.OpenMail();
    EXPECT_EQ(Host().notices.size(), 2u);
}

TEST_F(SetupDialogTest, SettingsCommandOpensTheSameDialogOwnedByTheMainWindow)
{
    Load();
    DialogRun run;
    ZPlatformSetDialogHandler(Drive, &run);
    EXPECT_TRUE(RunMenuCommand(plugin_, MENU_TYPE_MAIN, "S/MIMEPlug-inの設定", kMainWindow));
    ZPlatformSetDialogHandler(NULL, NULL);
    EXPECT_TRUE(run.opened);
    EXPECT_STREQ(run.before.caption.c_str(), "S/MIME動作設定");
}

// --- certificates of "MY" ---------------------------------------------------

TEST_F(SetupDialogTest, CertificatesAreListedByKeyUsageInSortedOrder)
{
    const TestPki& pki = TestPki::Instance();
    for (const char* name : {"signer", "encipher", "alice", "nousage", "bob"})
        InstallCert("MY", pki.Get(name), true);
    Load();
    DialogRun run = Open();
    const DialogState& s = run.before;
    auto subject = [&pki](const char* name) { return Sjis(pki.Get(name).subject); };

    // Signing: digital-signature bit or no key-usage extension; the From
    // item is added in sorted position like every subject.
    std::vector<std::string> signing = {subject("alice"), subject("bob"), subject("nousage"), subject("signer"),
                                        kFromItem};
    std::vector<std::string> sortedSigning = signing;
    std::sort(sortedSigning.begin(), sortedSigning.end(),
              [](const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) < 0; });
    EXPECT_EQ(Control(s, IDC_SIGN_CERT).items, sortedSigning);
    EXPECT_FALSE(HasItem(s, IDC_SIGN_CERT, subject("encipher")));

    // Encryption: key-encipherment bit or no extension; the From item was
    // inserted at the top first and the subjects sorted in around it.
    EXPECT_TRUE(HasItem(s, IDC_ENC_CERT, subject("encipher")));
    EXPECT_TRUE(HasItem(s, IDC_ENC_CERT, subject("alice")));
    EXPECT_TRUE(HasItem(s, IDC_ENC_CERT, subject("nousage")));
    EXPECT_FALSE(HasItem(s, IDC_ENC_CERT, subject("signer")));
    EXPECT_EQ(Control(s, IDC_ENC_CERT).items.size(), 5u);
    EXPECT_EQ(Selected(s, IDC_ENC_CERT), kFromItem);
    EXPECT_EQ(Selected(s, IDC_SIGN_CERT), kFromItem);
}

TEST_F(SetupDialogTest, ChoosingCertificatesSavesTheirSubjects)
{
    const TestPki& pki = TestPki::Instance();
    InstallCert("MY", pki.Get("alice"), true);
    InstallCert("MY", pki.Get("signer"), true);
    Load();
    std::string alice = Sjis(pki.Get("alice").subject), signer = Sjis(pki.Get("signer").subject);
    Open([&](HWND d) {
        Choose(d, IDC_SIGN_CERT, signer);
        Choose(d, IDC_ENC_CERT, alice);
        Act(d, DialogAction::OK);
    });
    std::vector<std::pair<std::string, std::string>> lines = SavedLines();
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[1].second, alice);
    EXPECT_EQ(lines[3].second, signer);

    // Reopened, both are selected again; choosing the From item empties the setting.
    DialogRun run = Open([](HWND d) {
        Choose(d, IDC_SIGN_CERT, kFromItem);
        Act(d, DialogAction::OK);
    });
    EXPECT_EQ(Selected(run.before, IDC_SIGN_CERT), signer);
    EXPECT_EQ(Selected(run.before, IDC_ENC_CERT), alice);
    lines = SavedLines();
    EXPECT_EQ(lines[1].second, alice);
    EXPECT_EQ(lines[3].second, "");
}

TEST_F(SetupDialogTest, StoredSubjectSelectsOnlyTheItemWithExactlyThatText)
{
    const TestPki& pki = TestPki::Instance();
    for (const char* name : {"pat-upper", "pat-lower", "pat-smith"})
        InstallCert("MY", pki.Get(name), true);
    std::string upper = Sjis(pki.Get("pat-upper").subject), lower = Sjis(pki.Get("pat-lower").subject);
    WriteSettings({"encCert=" + lower, "signCert=" + upper});
    Load();
    DialogRun run = Open([](HWND d) { Act(d, DialogAction::OK); });
    EXPECT_EQ(Selected(run.before, IDC_ENC_CERT), lower);
    EXPECT_EQ(Selected(run.before, IDC_SIGN_CERT), upper);
    EXPECT_EQ(Saved("encCert"), lower);
    EXPECT_EQ(Saved("signCert"), upper);

    // With "Pat" gone, the subject that begins with it is not taken instead.
    RemoveStoreCert("MY", pki.Get("pat-upper"));
    run = Open([](HWND d) { Act(d, DialogAction::OK); });
    EXPECT_EQ(Control(run.before, IDC_SIGN_CERT).selection, -1);
    EXPECT_EQ(Saved("signCert"), "");
}

TEST_F(SetupDialogTest, StoredSubjectNoLongerUsableLeavesNoSelectionAndOkEmptiesIt)
{
    const TestPki& pki = TestPki::Instance();
    InstallCert("MY", pki.Get("signer"), true);
    // Still in the store but without key encipherment, and one that is gone.
    WriteSettings({"encCert=" + Sjis(pki.Get("signer").subject), "signCert=C=JP, O=Zandrel Test, CN=gone"});
    Load();
    DialogRun run = Open([](HWND d) { Act(d, DialogAction::OK); });
    EXPECT_EQ(Control(run.before, IDC_ENC_CERT).selection, -1);
    EXPECT_EQ(Control(run.before, IDC_SIGN_CERT).selection, -1);
    EXPECT_EQ(run.result, IDOK);
    EXPECT_EQ(SavedLines().size(), 8u);
    EXPECT_EQ(Saved("encCert"), "");
    EXPECT_EQ(Saved("signCert"), "");
}

// --- zhost setup -------------------------------------------------------------

TEST_F(SetupDialogTest, ZhostSetupPlaysActionsAndPrintsTheResult)
{
    std::vector<std::string> env = {"XDG_DATA_HOME=" + dir_.path()};
    ProcessResult r = RunProcess({ZHOST_PATH, "--plugin", modulePath_, "setup", "select", "1003", "3DES", "ok"}, env);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("> select 1003 3DES\n> ok\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("    *3: 3DES\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1012 Button [ ] \"" + Utf8("デバッグ用のメッセージを表示する") + "\""), std::string::npos);
    EXPECT_EQ(r.out.substr(r.out.size() - 10), "result: 1\n");
    EXPECT_NE(ReadFile(SettingsPath()).find("encAlg=3DES\r\n"), std::string::npos);

    // By position and by an item's Japanese text; no ok: cancelled, nothing saved.
    r = RunProcess(
        {ZHOST_PATH, "--plugin", modulePath_, "setup", "select", "1008", Utf8("何もしない"), "check", "1010"}, env);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("    *3: " + Utf8("何もしない") + "\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1010 Button [x]"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - 10), "result: 2\n");
    EXPECT_EQ(ReadFile(SettingsPath()).find("Nothing"), std::string::npos);
}

TEST_F(SetupDialogTest, ZhostSetupRejectsBadActions)
{
    std::vector<std::string> env = {"XDG_DATA_HOME=" + dir_.path()};
    ProcessResult r = RunProcess({ZHOST_PATH, "--plugin", modulePath_, "setup", "select", "1003"}, env);
    EXPECT_EQ(r.exitCode, 2);
    r = RunProcess({ZHOST_PATH, "--plugin", modulePath_, "setup", "press", "1"}, env);
    EXPECT_EQ(r.exitCode, 2);
    // An item the list does not hold: the rest is not played, the dialog is cancelled.
    r = RunProcess({ZHOST_PATH, "--plugin", modulePath_, "setup", "select", "1003", "AES", "ok"}, env);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.out.find("result: 2\n"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("no such item"), std::string::npos) << r.err;
    struct stat st;
    EXPECT_NE(stat(SettingsPath().c_str(), &st), 0);
}
