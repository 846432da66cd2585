// Address lists: display forms to bare addresses.
#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "mime/address.h"

namespace {

struct Split {
    std::string name, address;
};

Split SplitOf(const std::string& entry, int nameSize = 1024, int addressSize = 1024)
{
    char name[1024], address[1024];
    memset(name, 'x', sizeof name);
    memset(address, 'x', sizeof address);
    SplitAddress(name, nameSize, address, addressSize, entry.c_str());
    return {name, address};
}

struct Collected {
    std::string output;
    int count;
};

Collected Collect(const std::string& list)
{
    std::string copy = list;
    char output[4096] = "untouched";
    int count = -1;
    CollectAddresses(&copy[0], output, &count);
    return {output, count};
}

}  // namespace

TEST(AddressTest, DisplayForms)
{
    struct Case {
        const char* entry;
        const char* name;
        const char* address;
    } cases[] = {
        {"<alice@example.com>", "", "alice@example.com"},
        {"Alice Liddell <alice@example.com>", "Alice Liddell", "alice@example.com"},
        {"\"Liddell <A>\" <alice@example.com>", "Liddell <A>", "alice@example.com"},
        {"alice@example.com (Alice L.)", "Alice L.", "alice@example.com"},
        {" \t alice@example.com \t ", "", "alice@example.com"},
        {"alice@example.com\r\n", "", "alice@example.com"},
        {"Alice < alice@example.com >", "Alice", "alice@example.com"},
        {"Alice <alice@example.com", "Alice", "alice@example.com"},
        {"Alice <>", "Alice", ""},
        {"\"Unclosed <alice@example.com>", "", "\"Unclosed <alice@example.com>"},
        {"(Comment) alice@example.com", "Comment", "alice@example.com"},
        {"alice(home)@example.com (Alice (A.) L.)", "home", "alice@example.com"},
        {"Alice (Sales, Tokyo) <alice@example.com>", "Alice (Sales, Tokyo)", "alice@example.com"},
        {"(a <b>) alice@example.com", "a <b>", "alice@example.com"},
        {"", "", ""},
        {"   ", "", ""},
    };
    for (const Case& c : cases) {
        Split s = SplitOf(c.entry);
        EXPECT_EQ(s.name, c.name) << c.entry;
        EXPECT_EQ(s.address, c.address) << c.entry;
    }
}

TEST(AddressTest, DoubleByteCharactersHideTheirTrailBytes)
{
    // Lead bytes followed by bytes that look like delimiters are one character.
    Split bracket = SplitOf("\x81<\x82\xa0 <bob@example.jp>");
    EXPECT_EQ(bracket.name, "\x81<\x82\xa0");
    EXPECT_EQ(bracket.address, "bob@example.jp");

    Split quote = SplitOf("\"\x83\"x\" <bob@example.jp>");
    EXPECT_EQ(quote.name, "\x83\"x");
    EXPECT_EQ(quote.address, "bob@example.jp");

    Split paren = SplitOf("bob@example.jp \x88(z (\x95\x5c)");
    EXPECT_EQ(paren.name, "\x95\x5c");
    EXPECT_EQ(paren.address, "bob@example.jp \x88(z");

    // A real name: 山田 太郎 and 表示 (表 ends in the byte of a backslash).
    std::string name = "\x8e\x52\x93\x63 \x91\xbe\x98\x59\x95\x5c\x8e\xa6";
    Split real = SplitOf(name + " <taro@example.jp>");
    EXPECT_EQ(real.name, name);
    EXPECT_EQ(real.address, "taro@example.jp");
}

TEST(AddressTest, ResultsAreCutToTheirBuffers)
{
    Split s = SplitOf("Alice Liddell <alice@example.com>", 6, 8);
    EXPECT_EQ(s.name, "Alice");
    EXPECT_EQ(s.address, "alice@e");
    Split bare = SplitOf("alice@example.com", 1, 4);
    EXPECT_EQ(bare.name, "");
    EXPECT_EQ(bare.address, "ali");
    char address[ADDRESS_SIZE];
    std::string longEntry(5000, 'a');
    ExtractAddress(address, longEntry.c_str());
    EXPECT_EQ(std::string(address), longEntry.substr(0, ADDRESS_SIZE - 1));
}

TEST(AddressTest, CollectAddressesReadsListsAsClientsWriteThem)
{
    struct Case {
        const char* list;
        const char* output;
        int count;
    } cases[] = {
        {"alice@example.com, Bob <bob@example.jp>", "alice@example.com,bob@example.jp", 2},
        {"\"Yamada, Taro\" <taro@example.jp>, hanako@example.jp", "taro@example.jp,hanako@example.jp", 2},
        {"taro@example.jp (Yamada, Taro), hanako@example.jp", "taro@example.jp,hanako@example.jp", 2},
        {"Team: a@example.jp, \"B, b\" <b@example.jp>;, c@example.jp", "a@example.jp,b@example.jp,c@example.jp", 3},
        {"undisclosed-recipients:;", "", 0},
        {"alice@example.com,\r\n\tbob@example.jp,", "alice@example.com,bob@example.jp", 2},
        {"a@example.jp; b@example.jp", "a@example.jp,b@example.jp", 2},
        {",, ,(nobody)", "", 0},
        {"Alice <>, b@example.jp", ",b@example.jp", 2},
        // Shift-JIS names whose trail bytes look like ",", "\"", "<" and "(".
        {"\x81,\x82\" <a@example.jp>, \"\x83<\x84(\" <b@example.jp>", "a@example.jp,b@example.jp", 2},
    };
    for (const Case& c : cases) {
        Collected got = Collect(c.list);
        EXPECT_EQ(got.output, c.output) << c.list;
        EXPECT_EQ(got.count, c.count) << c.list;
    }
    Collected none = Collect("");
    EXPECT_EQ(none.output, "untouched");
    EXPECT_EQ(none.count, -1);
}

TEST(AddressTest, CollectAddressesOverwritesTheCommasOfItsList)
{
    char list[] = "a@x,b@y";
    char output[64];
    int count = 0;
    CollectAddresses(list, output, &count);
    EXPECT_EQ(memcmp(list, "a@x\0b@y", 8), 0);
    EXPECT_STREQ(output, "a@x,b@y");
}
