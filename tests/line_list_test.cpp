// Line lists: linking, unlinking, replacing texts.
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
