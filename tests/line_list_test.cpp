// Line lists: linking, unlinking, replacing texts.
#include <stdio.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mime/line_list.h"

namespace {

// The texts in order, checking both directions and every length on the way.
std::vector<std::string> Texts(const LineList& list)
{
    std::vector<std::string> forward, backward;
    for (LineNode* n = list.head; n != nullptr; n = n->next) {
        EXPECT_EQ((size_t)n->length, std::string(n->text).size());
        if (n->next == nullptr) {
            EXPECT_EQ(n, list.tail);
        }
        forward.push_back(n->text);
    }
    for (LineNode* n = list.tail; n != nullptr; n = n->prev)
        backward.insert(backward.begin(), n->text);
    EXPECT_EQ(forward, backward);
    EXPECT_EQ(list.head == nullptr, list.tail == nullptr);
    return forward;
}

using Lines = std::vector<std::string>;

}  // namespace

TEST(LineListTest, AppendCopiesTextsInOrder)
{
    LineList list;
    EXPECT_EQ(Texts(list), Lines{});
    char text[] = "a\r\nb\r\n";
    LineNode* first = list.Append(text);
    text[0] = 'X';  // the list keeps its own copy
    list.Append("");
    EXPECT_EQ(Texts(list), (Lines{"a\r\nb\r\n", ""}));
    EXPECT_EQ(first->length, 6);
    EXPECT_EQ(list.tail->length, 0);
    list.Clear();
    EXPECT_EQ(Texts(list), Lines{});
    list.Clear();
    EXPECT_EQ(list.head, nullptr);
}

TEST(LineListTest, InsertBeforeHeadAndTail)
{
    LineList list;
    LineNode* a = list.Append("a");
    LineNode* b = list.Append("b");
    list.InsertBefore(a, "head");
    list.InsertBefore(b, "mid");
    EXPECT_EQ(Texts(list), (Lines{"head", "a", "mid", "b"}));
    EXPECT_EQ(list.tail, b);
}

TEST(LineListTest, UnlinkKeepsEndsConsistent)
{
    LineList list;
    LineNode* a = list.Append("a");
    LineNode* b = list.Append("b");
    LineNode* c = list.Append("c");
    list.Unlink(a);
    EXPECT_EQ(a->next, nullptr);
    EXPECT_EQ(list.head, b);
    EXPECT_EQ(b->prev, nullptr);
    list.Unlink(c);
    EXPECT_EQ(list.tail, b);
    EXPECT_EQ(Texts(list), Lines{"b"});
    list.Unlink(b);
    EXPECT_EQ(Texts(list), Lines{});
    LineList::FreeNode(a);
    LineList::FreeNode(b);
    LineList::FreeNode(c);
}

TEST(LineListTest, SetTextShorterLongerAndFromItself)
{
    LineList list;
    LineNode* n = list.Append("Subject: short\r\n");
    LineList::SetText(n, "Subject: a much longer replacement text\r\n");
    EXPECT_STREQ(n->text, "Subject: a much longer replacement text\r\n");
    LineList::SetText(n, "x");
    EXPECT_STREQ(n->text, "x");
    EXPECT_EQ(n->length, 1);
    LineList::SetText(n, n->text);
    EXPECT_STREQ(n->text, "x");
    std::string big(100000, 'q');
    LineList::SetText(n, big.c_str());
    LineList::SetText(n, big.c_str() + 50000);
    EXPECT_EQ(n->length, 50000);
    EXPECT_EQ(Texts(list), Lines{std::string(50000, 'q')});
}

TEST(LineListTest, AppendJoinedBuildsOneNode)
{
    LineList list;
    LineNode* n = list.AppendJoined("line", 4, "\r\n", 2);
    EXPECT_STREQ(n->text, "line\r\n");
    EXPECT_EQ(n->length, 6);
    list.AppendJoined("", 0, nullptr, 0);
    EXPECT_EQ(Texts(list), (Lines{"line\r\n", ""}));
}

TEST(LineListTest, MillionsOfLinesKeepTheirOrder)
{
    LineList list;
    const int count = 2000000;
    char line[16];
    for (int i = 0; i < count; ++i) {
        snprintf(line, sizeof line, "%d\r\n", i);
        ASSERT_NE(list.Append(line), nullptr);
    }
    int i = 0;
    for (const LineNode* n = list.head; n != nullptr; n = n->next, ++i) {
        snprintf(line, sizeof line, "%d\r\n", i);
        ASSERT_STREQ(n->text, line);
    }
    EXPECT_EQ(i, count);
    for (const LineNode* n = list.tail; n != nullptr; n = n->prev)
        --i;
    EXPECT_EQ(i, 0);
    list.Clear();
    EXPECT_EQ(list.head, nullptr);
    EXPECT_EQ(list.tail, nullptr);
}

// Packed texts: the concatenation is kept whatever happened to the tail before.
TEST(LineListTest, PackedTextsJoinOnlyTheirOwnNodes)
{
    LineList list;
    std::string expected;
    list.Append("plain\r\n");
    expected += "plain\r\n";
    for (int i = 0; i < 1000000; ++i) {
        ASSERT_NE(list.AppendPacked("a", 1, "\r\n", 2), nullptr);
        expected += "a\r\n";
    }
    std::string joined;
    size_t nodes = 0;
    EXPECT_STREQ(list.head->text, "plain\r\n");  // a node not made packed is left alone
    for (const LineNode* n = list.head; n != nullptr; n = n->next, ++nodes) {
        EXPECT_LE((size_t)n->length, (size_t)LineList::PACKED_NODE_SIZE);
        joined += n->text;
    }
    EXPECT_EQ(joined, expected);
    EXPECT_LT(nodes, 3000000 / LineList::PACKED_NODE_SIZE + 3);
    (void)Texts(list);

    // A tail that was unlinked, or given a text of its own, takes nothing more.
    LineNode* last = list.tail;
    list.Unlink(last);
    list.AppendPacked("x", 1, nullptr, 0);
    EXPECT_STREQ(last->text + last->length - 3, "a\r\n");
    LineList::FreeNode(last);
    LineList::SetText(list.tail, std::string(70000, 'y').c_str());
    list.AppendPacked("z", 1, nullptr, 0);
    EXPECT_EQ(list.tail->length, 1);
    EXPECT_EQ(list.tail->prev->length, 70000);
    list.Append("end");
    list.AppendPacked("", 0, nullptr, 0);
    EXPECT_STREQ(list.tail->prev->text, "end");
    EXPECT_EQ(Texts(list).size(), nodes + 3);
}

// Borrowed texts: a run of adjacent ones takes one node, and the caller's
// memory is never copied, written or freed (ASan sees a wrong free).
TEST(LineListTest, BorrowedTextsStayWhereTheyLie)
{
    const std::string text = "one\r\ntwo\r\nthree\r\n";
    LineList list;
    ASSERT_NE(list.AppendBorrowed(text.data(), 5), nullptr);
    ASSERT_EQ(list.AppendBorrowed(text.data() + 5, 5), list.head);
    EXPECT_EQ(list.head->text, text.data());
    EXPECT_EQ(list.head->length, 10);
    list.AppendPacked("x\r\n", 3, nullptr, 0);
    list.AppendBorrowed(text.data() + 10, 7);  // a run after a copy starts anew
    std::string joined;
    for (const LineNode* n = list.head; n != nullptr; n = n->next)
        joined.append(n->text, n->length);
    EXPECT_EQ(joined, "one\r\ntwo\r\nx\r\nthree\r\n");

    LineList::SetText(list.head, "1\r\n");
    EXPECT_STREQ(list.head->text, "1\r\n");
    EXPECT_EQ(text, "one\r\ntwo\r\nthree\r\n");
    LineNode* last = list.tail;
    list.Unlink(last);
    LineList::FreeNode(last);
    list.AppendBorrowed(text.data() + 10, 7);
    EXPECT_EQ(list.tail->prev->length, 3);  // the packed copy takes no borrowed text
}
