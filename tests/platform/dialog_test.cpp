// Combo boxes of the setup dialog's template as user32 runs them: sorted
// insertion, searches and selection. The test procedure acts in
// WM_INITDIALOG, where the controls exist, and ends the dialog there.
#include <functional>
#include <vector>

#include "platform_test.h"
#include "resources/resource.h"

namespace {

std::function<void(HWND)> g_play;

INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM, LPARAM)
{
    if (message != WM_INITDIALOG)
        return FALSE;
    g_play(dialog);
    EndDialog(dialog, IDOK);
    return TRUE;
}

void WithDialog(std::function<void(HWND)> play)
{
    g_play = std::move(play);
    EXPECT_EQ(DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SETUP), nullptr, Procedure, 0), IDOK);
}

LRESULT Send(HWND d, int id, UINT message, WPARAM w = 0, const char* text = nullptr)
{
    return SendDlgItemMessageA(d, id, message, w, (LPARAM)text);
}

std::vector<std::string> Items(HWND d, int id)
{
    std::vector<std::string> items;
    for (int i = 0; i < (int)Send(d, id, CB_GETCOUNT); ++i) {
        char text[256];
        Send(d, id, CB_GETLBTEXT, (WPARAM)i, text);
        items.push_back(text);
    }
    return items;
}

}  // namespace

TEST(Dialog, SortedListPutsANewItemBeforeAnEqualOne)
{
    WithDialog([](HWND d) {
        for (const char* s : {"beta", "Alpha", "gamma", "alpha", "Beta2", "BETA"})
            Send(d, IDC_SIGN_CERT, CB_ADDSTRING, 0, s);
        EXPECT_EQ(Items(d, IDC_SIGN_CERT),
                  (std::vector<std::string>{"alpha", "Alpha", "BETA", "beta", "Beta2", "gamma"}));
        // Subjects differing only in case, in either order of arrival.
        Send(d, IDC_ENC_CERT, CB_ADDSTRING, 0, "C=JP, CN=pat");
        Send(d, IDC_ENC_CERT, CB_ADDSTRING, 0, "C=JP, CN=Pat");
        EXPECT_EQ(Items(d, IDC_ENC_CERT), (std::vector<std::string>{"C=JP, CN=Pat", "C=JP, CN=pat"}));
        // An unsorted list appends; a position given is kept in a sorted one.
        Send(d, IDC_ENC_ALG, CB_ADDSTRING, 0, "b");
        Send(d, IDC_ENC_ALG, CB_ADDSTRING, 0, "a");
        EXPECT_EQ(Items(d, IDC_ENC_ALG), (std::vector<std::string>{"b", "a"}));
        EXPECT_EQ(Send(d, IDC_SIGN_CERT, CB_INSERTSTRING, 0, "zzz"), 0);
    });
}

TEST(Dialog, SortedListOrdersPunctuationAndDigitsAsUser32)
{
    WithDialog([](HWND d) {
        for (const char* s : {"C=JP, CN=b", "C=JP, CN=a-c", "C=JP, CN=ab", "C=JP, CN=a_b", "C=JP, CN=a b",
                              "C=JP, CN=a2", "From: x"})
            Send(d, IDC_SIGN_CERT, CB_ADDSTRING, 0, s);
        EXPECT_EQ(Items(d, IDC_SIGN_CERT),
                  (std::vector<std::string>{"C=JP, CN=a b", "C=JP, CN=a_b", "C=JP, CN=a2", "C=JP, CN=ab",
                                            "C=JP, CN=a-c", "C=JP, CN=b", "From: x"}));
    });
}

TEST(Dialog, SearchesAndSelection)
{
    WithDialog([](HWND d) {
        for (const char* s : {"C=JP, CN=alice", "C=JP, CN=bob", "From: x"})
            Send(d, IDC_ENC_ALG, CB_INSERTSTRING, (WPARAM)-1, s);
        EXPECT_EQ(Send(d, IDC_ENC_ALG, CB_GETCURSEL), CB_ERR);
        EXPECT_EQ(Send(d, IDC_ENC_ALG, CB_SELECTSTRING, (WPARAM)-1, "c=jp, cn=B"), 1) << "a prefix, any case";
        EXPECT_EQ(Send(d, IDC_ENC_ALG, CB_SELECTSTRING, (WPARAM)-1, "nobody"), CB_ERR);
        EXPECT_EQ(Send(d, IDC_ENC_ALG, CB_GETCURSEL), 1) << "a miss keeps the selection";
        EXPECT_EQ(Send(d, IDC_ENC_ALG, CB_FINDSTRING, 1, "C=JP"), 0) << "starts after wParam, wraps round";
        EXPECT_EQ(Send(d, IDC_ENC_ALG, CB_FINDSTRINGEXACT, (WPARAM)-1, "c=jp, cn=alice"), 0);
        EXPECT_EQ(Send(d, IDC_ENC_ALG, CB_FINDSTRINGEXACT, (WPARAM)-1, "C=JP, CN=ali"), CB_ERR);
        EXPECT_EQ(Send(d, IDC_ENC_ALG, CB_SETCURSEL, (WPARAM)-1), CB_ERR);
        EXPECT_EQ(Send(d, IDC_ENC_ALG, CB_GETCURSEL), CB_ERR) << "-1 clears the selection";
        EXPECT_EQ(Send(d, IDC_ENC_ALG, CB_GETLBTEXTLEN, 0), 14);
    });
}

TEST(Dialog, SelectingAnIndexOutOfRangeClearsTheSelection)
{
    ExpectDivergenceOnWine("Wine 8 keeps the selection; Windows clears it, as CB_SETCURSEL is documented");
    WithDialog([](HWND d) {
        Send(d, IDC_ENC_ALG, CB_INSERTSTRING, (WPARAM)-1, "a");
        Send(d, IDC_ENC_ALG, CB_SETCURSEL, 0);
        EXPECT_EQ(Send(d, IDC_ENC_ALG, CB_SETCURSEL, 7), CB_ERR);
        EXPECT_EQ(Send(d, IDC_ENC_ALG, CB_GETCURSEL), CB_ERR);
    });
}
