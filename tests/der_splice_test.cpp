// Cutting an element out of DER, and framing one in at the end, with the
// lengths around it written anew: the results must equal the DER encoded whole.
#include <gtest/gtest.h>

#include "platform/src/der_reader.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// SEQUENCE { OID, [0] { SEQUENCE { INTEGER, inner... } } }, and the path of
// elements from the outer SEQUENCE down to the innermost one.
struct Nested {
    Bytes der;
    DerTlv path[3];
};

Nested Build(const Bytes& inner)
{
    Nested n;
    Bytes innermost = DerEncode(0x30, Concat({DerEncode(0x02, {1}), inner}));
    n.der = DerEncode(0x30, Concat({DerEncode(0x06, {0x2A, 0x03}), DerEncode(0xA0, innermost)}));
    DerReader top(n.der.data(), n.der.size());
    DerTlv oid;
    EXPECT_TRUE(top.Read(0x30, &n.path[0]));
    DerReader outer(n.path[0]);
    EXPECT_TRUE(outer.Read(0x06, &oid) && outer.Read(0xA0, &n.path[1]));
    DerReader tagged(n.path[1]);
    EXPECT_TRUE(tagged.Read(0x30, &n.path[2]));
    return n;
}

TEST(DerSpliceTest, CuttingAnElementRewritesEveryLengthAroundIt)
{
    // 200 bytes take the lengths around them to the long form; without them
    // every length is short again.
    Bytes octets = DerEncode(0x04, Bytes(200, 0x55));
    Nested with = Build(Concat({octets, DerEncode(0x05, {})}));
    DerReader innermost(with.path[2]);
    DerTlv integer, cut;
    ASSERT_TRUE(innermost.Read(0x02, &integer) && innermost.Read(0x04, &cut));
    EXPECT_EQ(DerWithout(with.path, 3, cut), Build(DerEncode(0x05, {})).der);
}

TEST(DerSpliceTest, AGrownPrefixAndTheAddedBytesAreTheWholeEncoding)
{
    for (size_t size : {0, 100, 300, 70000}) {
        SCOPED_TRACE(size);
        Bytes added = DerEncode(0x80, Bytes(size, 0x66));
        Nested before = Build({});
        Bytes prefix = DerGrownPrefix(before.path, 3, added.size());
        EXPECT_EQ(Concat({prefix, added}), Build(added).der);
    }
    // Growing is only possible at the end of every element of the path.
    Nested followed = Build(DerEncode(0x05, {}));
    DerReader innermost(followed.path[2]);
    DerTlv integer;
    ASSERT_TRUE(innermost.Read(0x02, &integer));
    DerTlv path[] = {followed.path[0], followed.path[1], followed.path[2], integer};
    EXPECT_TRUE(DerGrownPrefix(path, 4, 10).empty());
}

}  // namespace
