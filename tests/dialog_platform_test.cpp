// The headless dialogs of the platform layer: templates from the module's
// resource table, combo boxes and buttons as Windows behaves, the driver.
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include <windows.h>
#include <zplatform.h>

#include "resources/resource.h"
#include "support/test_support.h"

namespace {

// A dialog run with a test procedure: `init` answers WM_INITDIALOG, `play`
// acts as the user; every WM_COMMAND the procedure receives is recorded.
struct TestDialog {
    std::function<BOOL(HWND)> init = [](HWND) { return TRUE; };
    std::function<void(HWND)> play;
    std::function<BOOL(HWND, WPARAM, LPARAM)> command = [](HWND d, WPARAM w, LPARAM) {
        if (LOWORD(w) == IDOK || LOWORD(w) == IDCANCEL) {
            EndDialog(d, LOWORD(w));
            return TRUE;
        }
        return FALSE;
    };
    std::vector<std::pair<WPARAM, LPARAM>> commands;
    bool played = false;
};

TestDialog* g_current = nullptr;

INT_PTR CALLBACK TestProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG)
        return g_current->init(dialog);
    if (message == WM_COMMAND) {
        g_current->commands.push_back({wParam, lParam});
        return g_current->command(dialog, wParam, lParam);
    }
    return FALSE;
}

void Play(void* context, HWND dialog)
{
    TestDialog* t = static_cast<TestDialog*>(context);
    t->played = true;
    if (t->play)
        t->play(dialog);
}

// Runs the setup dialog's template (from this executable's resource table) with the test procedure.
INT_PTR RunDialog(TestDialog& t, int templateId = IDD_SETUP)
{
    g_current = &t;
    ZPlatformSetDialogHandler(Play, &t);
    INT_PTR result = DialogBoxParamA(NULL, MAKEINTRESOURCE(templateId), NULL, TestProc, 0);
    ZPlatformSetDialogHandler(nullptr, nullptr);
    g_current = nullptr;
    return result;
}

LRESULT Send(HWND d, int id, UINT message, WPARAM w = 0, const char* text = nullptr)
{
    return SendDlgItemMessageA(d, id, message, w, (LPARAM)text);
}

std::vector<std::string> Items(HWND d, int id)
{
    std::vector<std::string> items;
    int count = (int)Send(d, id, CB_GETCOUNT);
    for (int i = 0; i < count; ++i) {
        char text[1024];
        Send(d, id, CB_GETLBTEXT, (WPARAM)i, text);
        items.push_back(text);
    }
    return items;
}

BOOL CALLBACK CollectId(HWND child, LPARAM ids)
{
    reinterpret_cast<std::vector<int>*>(ids)->push_back(GetDlgCtrlID(child));
    return TRUE;
}

}  // namespace

TEST(DialogPlatformTest, ControlsFollowTheTemplateOrderWithTheirClassesAndTexts)
{
    TestDialog t;
    t.play = [](HWND d) {
        std::vector<int> ids;
        EnumChildWindows(d, CollectId, (LPARAM)&ids);
        EXPECT_EQ(ids, (std::vector<int>{1, 2, 1001, 1004, 1005, 1006, 1003, 1002, 1007, 1019, 65535, 1020,
                                         1009, 1010, 1008, 1011, 1012}));
        char text[256];
        GetWindowTextA(d, text, sizeof text);
        EXPECT_STREQ(text, "S/MIME動作設定");
        GetClassNameA(GetDlgItem(d, 1019), text, sizeof text);
        EXPECT_STREQ(text, "ComboBox");
        EXPECT_TRUE(GetWindowLongA(GetDlgItem(d, 1019), GWL_STYLE) & CBS_SORT);
        EXPECT_FALSE(GetWindowLongA(GetDlgItem(d, 1003), GWL_STYLE) & CBS_SORT);
        EXPECT_FALSE(GetWindowLongA(GetDlgItem(d, 1006), GWL_STYLE) & WS_TABSTOP);
        GetDlgItemTextA(d, 2, text, sizeof text);
        EXPECT_STREQ(text, "キャンセル");
        GetDlgItemTextA(d, 1011, text, sizeof text);
        EXPECT_STREQ(text, "メール選択時の動作 (リモートメールボックス使用時にはここで何を選んでも常に何もしません）");
        GetDlgItemTextA(d, 1012, text, sizeof text);
        EXPECT_STREQ(text, "デバッグ用のメッセージを表示する");
        EXPECT_EQ(GetDlgItem(d, 4242), nullptr);
    };
    RunDialog(t);
    EXPECT_TRUE(t.played);
}

TEST(DialogPlatformTest, EnglishCopyKeepsItsOwnIdentifiers)
{
    TestDialog t;
    t.play = [](HWND d) {
        char text[256];
        GetWindowTextA(d, text, sizeof text);
        EXPECT_STREQ(text, "S/MIME setup");
        EXPECT_NE(GetDlgItem(d, 1013), nullptr);
        EXPECT_NE(GetDlgItem(d, 1025), nullptr);
        EXPECT_EQ(GetDlgItem(d, 1010), nullptr);
        GetDlgItemTextA(d, 1013, text, sizeof text);
        EXPECT_STREQ(text, "expand certificate searching scope to Outlook Addressbook.");
    };
    RunDialog(t, IDD_SETUP_ENGLISH);
    EXPECT_TRUE(t.played);
}

// The added debug check box must not cover any control; a drop-down list
// covers only its closed height until it is opened.
TEST(DialogPlatformTest, DebugCheckBoxOverlapsNoOtherControl)
{
    const ZModuleResources* resources = ZPlatformModuleResourcesOf(NULL);
    ASSERT_NE(resources, nullptr);
    for (int d = 0; d < resources->dialogCount; ++d) {
        const ZDialogTemplate& dialog = resources->dialogs[d];
        const ZDialogItemTemplate* box = nullptr;
        for (int i = 0; i < dialog.itemCount; ++i)
            if (dialog.items[i].id == IDC_DEBUG)
                box = &dialog.items[i];
        ASSERT_NE(box, nullptr) << dialog.id;
        EXPECT_LE(box->x + box->cx, dialog.cx);
        EXPECT_LE(box->y + box->cy, dialog.cy);
        for (int i = 0; i < dialog.itemCount; ++i) {
            const ZDialogItemTemplate& other = dialog.items[i];
            if (&other == box)
                continue;
            int height = strcmp(other.className, "ComboBox") == 0 ? 12 : other.cy;
            bool apart = box->x >= other.x + other.cx || other.x >= box->x + box->cx ||
                         box->y >= other.y + height || other.y >= box->y + box->cy;
            EXPECT_TRUE(apart) << "dialog " << dialog.id << " control " << other.id;
        }
    }
}

TEST(DialogPlatformTest, SortedListAddsInCaseInsensitiveOrderUnsortedListAppends)
{
    TestDialog t;
    t.play = [](HWND d) {
        // An item equal to one already there (ignoring case) goes before it, as in user32.
        for (const char* s : {"beta", "Alpha", "gamma", "alpha", "Beta2", "BETA"})
            Send(d, 1019, CB_ADDSTRING, 0, s);
        EXPECT_EQ(Items(d, 1019), (std::vector<std::string>{"alpha", "Alpha", "BETA", "beta", "Beta2", "gamma"}));
        // A position given explicitly is kept even in a sorted list.
        EXPECT_EQ(Send(d, 1019, CB_INSERTSTRING, 0, "zzz"), 0);
        EXPECT_EQ(Items(d, 1019)[0], "zzz");
        EXPECT_EQ(Send(d, 1019, CB_INSERTSTRING, 99, "x"), CB_ERR);

        for (const char* s : {"b", "a"})
            Send(d, 1003, CB_ADDSTRING, 0, s);
        EXPECT_EQ(Items(d, 1003), (std::vector<std::string>{"b", "a"}));
        EXPECT_EQ(Send(d, 1003, CB_INSERTSTRING, (WPARAM)-1, "c"), 2);
    };
    RunDialog(t);
}

TEST(DialogPlatformTest, SelectStringMatchesPrefixIgnoringCaseAndKeepsSelectionOnMiss)
{
    TestDialog t;
    t.play = [](HWND d) {
        for (const char* s : {"C=JP, CN=alice", "C=JP, CN=bob", "From: x"})
            Send(d, 1003, CB_INSERTSTRING, (WPARAM)-1, s);
        EXPECT_EQ(Send(d, 1003, CB_GETCURSEL), CB_ERR);
        EXPECT_EQ(Send(d, 1003, CB_SELECTSTRING, (WPARAM)-1, "c=jp, cn=B"), 1);
        EXPECT_EQ(Send(d, 1003, CB_GETCURSEL), 1);
        EXPECT_EQ(Send(d, 1003, CB_SELECTSTRING, (WPARAM)-1, "nobody"), CB_ERR);
        EXPECT_EQ(Send(d, 1003, CB_GETCURSEL), 1);
        // The search starts after wParam and wraps round.
        EXPECT_EQ(Send(d, 1003, CB_FINDSTRING, 1, "C=JP"), 0);
        EXPECT_EQ(Send(d, 1003, CB_FINDSTRING, 0, "C=JP"), 1);
        EXPECT_EQ(Send(d, 1003, CB_FINDSTRINGEXACT, (WPARAM)-1, "c=jp, cn=alice"), 0);
        EXPECT_EQ(Send(d, 1003, CB_FINDSTRINGEXACT, (WPARAM)-1, "C=JP, CN=ali"), CB_ERR);
        // The edit part of a drop-down list shows the selected item.
        char text[64];
        GetDlgItemTextA(d, 1003, text, sizeof text);
        EXPECT_STREQ(text, "C=JP, CN=bob");
    };
    RunDialog(t);
}

TEST(DialogPlatformTest, CaseFoldingNeverTouchesShiftJisTrailBytes)
{
    TestDialog t;
    t.play = [](HWND d) {
        // ア is 83 41 and ヂ is 83 61: their trail bytes are the codes of 'A' and 'a'.
        std::string a = "ア", di = "ヂ";
        Send(d, 1003, CB_INSERTSTRING, (WPARAM)-1, a.c_str());
        EXPECT_EQ(Send(d, 1003, CB_FINDSTRINGEXACT, (WPARAM)-1, di.c_str()), CB_ERR);
        EXPECT_EQ(Send(d, 1003, CB_SELECTSTRING, (WPARAM)-1, di.c_str()), CB_ERR);
        EXPECT_EQ(Send(d, 1003, CB_FINDSTRING, (WPARAM)-1, a.c_str()), 0);
    };
    RunDialog(t);
}

TEST(DialogPlatformTest, SelectionAndItemTextsReportErrorsLikeWindows)
{
    TestDialog t;
    t.play = [](HWND d) {
        Send(d, 1002, CB_INSERTSTRING, 0, "SHA-1");
        Send(d, 1002, CB_INSERTSTRING, 1, "MD5");
        EXPECT_EQ(Send(d, 1002, CB_SETCURSEL, 1), 1);
        EXPECT_EQ(Send(d, 1002, CB_SETCURSEL, 5), CB_ERR);
        EXPECT_EQ(Send(d, 1002, CB_GETCURSEL), CB_ERR);
        EXPECT_EQ(Send(d, 1002, CB_GETLBTEXTLEN, 1), 3);
        EXPECT_EQ(Send(d, 1002, CB_GETLBTEXTLEN, 2), CB_ERR);
        char text[16] = "untouched";
        EXPECT_EQ(Send(d, 1002, CB_GETLBTEXT, 7, text), CB_ERR);
        EXPECT_STREQ(text, "untouched");
        Send(d, 1002, CB_SETCURSEL, 0);
        EXPECT_EQ(Send(d, 1002, CB_INSERTSTRING, 0, "first"), 0);
        EXPECT_EQ(Send(d, 1002, CB_GETCURSEL), 1) << "the selected item moved down";
        EXPECT_EQ(Send(d, 1002, CB_RESETCONTENT), CB_OKAY);
        EXPECT_EQ(Send(d, 1002, CB_GETCOUNT), 0);
        EXPECT_EQ(Send(d, 1002, CB_GETCURSEL), CB_ERR);
        // A message to a control that does not exist does nothing.
        EXPECT_EQ(Send(d, 4242, CB_GETCOUNT), 0);
    };
    RunDialog(t);
}

TEST(DialogPlatformTest, ButtonsCheckAndClickAsTheUserWould)
{
    TestDialog t;
    t.play = [&t](HWND d) {
        EXPECT_EQ(IsDlgButtonChecked(d, 1001), (UINT)BST_UNCHECKED);
        EXPECT_TRUE(CheckDlgButton(d, 1001, BST_CHECKED));
        EXPECT_EQ(IsDlgButtonChecked(d, 1001), (UINT)BST_CHECKED);
        EXPECT_TRUE(t.commands.empty()) << "setting a check does not notify";
        SendDlgItemMessageA(d, 1010, BM_CLICK, 0, 0);
        EXPECT_EQ(SendDlgItemMessageA(d, 1010, BM_GETCHECK, 0, 0), BST_CHECKED);
        ASSERT_EQ(t.commands.size(), 1u);
        EXPECT_EQ(t.commands[0].first, MAKEWPARAM(1010, BN_CLICKED));
        EXPECT_EQ(t.commands[0].second, (LPARAM)GetDlgItem(d, 1010));
        EXPECT_EQ(GetFocus(), GetDlgItem(d, 1010));
        // A push button has no check.
        CheckDlgButton(d, IDOK, BST_CHECKED);
        EXPECT_EQ(IsDlgButtonChecked(d, IDOK), (UINT)BST_UNCHECKED);
        SendDlgItemMessageA(d, IDOK, BM_CLICK, 0, 0);
        INT_PTR result = 0;
        EXPECT_TRUE(ZPlatformDialogEnded(d, &result));
        EXPECT_EQ(result, IDOK);
        // Still readable until the driver returns.
        EXPECT_EQ(IsDlgButtonChecked(d, 1010), (UINT)BST_CHECKED);
    };
    EXPECT_EQ(RunDialog(t), IDOK);
    EXPECT_EQ(ZPlatformLastDialogResult(), IDOK);
    EXPECT_EQ(t.commands.size(), 2u);
}

TEST(DialogPlatformTest, InitialFocusOnFirstTabStopOnlyWhenInitialisationAsksForIt)
{
    TestDialog t;
    HWND focus = (HWND)1;
    t.play = [&focus](HWND) { focus = GetFocus(); };
    HWND first = nullptr;
    t.init = [&first](HWND d) {
        first = GetDlgItem(d, IDOK);
        return TRUE;
    };
    RunDialog(t);
    EXPECT_EQ(focus, first);

    t.init = [](HWND) { return FALSE; };
    RunDialog(t);
    EXPECT_EQ(focus, nullptr);
}

TEST(DialogPlatformTest, WithoutDriverOrActionsTheDialogIsCancelled)
{
    TestDialog t;
    EXPECT_EQ(RunDialog(t), IDCANCEL);
    ASSERT_EQ(t.commands.size(), 1u);
    EXPECT_EQ(LOWORD(t.commands[0].first), IDCANCEL);

    // No driver at all.
    TestDialog quiet;
    g_current = &quiet;
    EXPECT_EQ(DialogBoxParamA(NULL, MAKEINTRESOURCE(IDD_SETUP), NULL, TestProc, 0), IDCANCEL);
    g_current = nullptr;

    // A procedure that ignores Cancel cannot keep a headless dialog open.
    TestDialog stubborn;
    stubborn.command = [](HWND, WPARAM, LPARAM) { return FALSE; };
    EXPECT_EQ(RunDialog(stubborn), IDCANCEL);
}

TEST(DialogPlatformTest, EndDialogDuringInitialisationSkipsTheDriver)
{
    TestDialog t;
    t.init = [](HWND d) {
        EndDialog(d, 7);
        return TRUE;
    };
    EXPECT_EQ(RunDialog(t), 7);
    EXPECT_FALSE(t.played);
    EXPECT_TRUE(t.commands.empty());
}

TEST(DialogPlatformTest, HandlesDieWithTheDialogAndUnknownTemplatesFail)
{
    TestDialog t;
    HWND dialog = nullptr, control = nullptr;
    t.play = [&](HWND d) {
        dialog = d;
        control = GetDlgItem(d, 1003);
        EXPECT_TRUE(IsWindow(d));
        EXPECT_TRUE(IsWindow(control));
    };
    RunDialog(t);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_FALSE(IsWindow(control));
    EXPECT_EQ(SendDlgItemMessageA(dialog, 1003, CB_GETCOUNT, 0, 0), 0);
    EXPECT_FALSE(EndDialog(dialog, 1));

    TestDialog never;
    g_current = &never;
    EXPECT_EQ(DialogBoxParamA(NULL, MAKEINTRESOURCE(999), NULL, TestProc, 0), -1);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_EQ(DialogBoxParamA(NULL, "named", NULL, TestProc, 0), -1);
    g_current = nullptr;
}
