// CertNameToStrA in the X.500 form, on names built byte by byte.
#include <initializer_list>

#include "platform_test.h"

namespace {

std::string Tlv(unsigned char tag, const std::string& body)
{
    std::string out(1, (char)tag);
    if (body.size() < 0x80) {
        out += (char)body.size();
    } else {
        out += (char)0x82;
        out += (char)(body.size() >> 8);
        out += (char)(body.size() & 0xFF);
    }
    return out + body;
}

std::string Oid(std::initializer_list<unsigned> arcs)
{
    auto it = arcs.begin();
    unsigned first = *it++;
    std::string body(1, (char)(first * 40 + *it++));
    for (; it != arcs.end(); ++it) {
        std::string arc(1, (char)(*it & 0x7F));
        for (unsigned v = *it >> 7; v != 0; v >>= 7)
            arc.insert(arc.begin(), (char)(0x80 | (v & 0x7F)));
        body += arc;
    }
    return Tlv(0x06, body);
}

enum : unsigned char { PRINTABLE = 0x13, UTF8 = 0x0C, IA5 = 0x16, BMP = 0x1E };

std::string Attr(const std::string& oid, unsigned char type, const std::string& value)
{
    return Tlv(0x30, oid + Tlv(type, value));
}

// One attribute per RDN unless several are given to Rdn.
std::string Rdn(std::initializer_list<std::string> attributes)
{
    std::string body;
    for (const std::string& a : attributes)
        body += a;
    return Tlv(0x31, body);
}

std::string Name(std::initializer_list<std::string> rdns)
{
    std::string body;
    for (const std::string& r : rdns)
        body += r;
    return Tlv(0x30, body);
}

std::string Cn(const std::string& value, unsigned char type = UTF8)
{
    return Rdn({Attr(Oid({2, 5, 4, 3}), type, value)});
}

std::string ToStr(const std::string& der, DWORD size = 1024, DWORD* returned = nullptr)
{
    CERT_NAME_BLOB blob = {(DWORD)der.size(), (BYTE*)der.data()};
    std::string out(size, '\x7F');
    DWORD n = CertNameToStrA(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, &out[0], size);
    if (returned != nullptr)
        *returned = n;
    return out.substr(0, out.find('\0'));
}

}  // namespace

TEST(Names, AttributesInEncodedOrderWithTheirX500Keys)
{
    auto at = [](std::initializer_list<unsigned> oid, const char* value, unsigned char type = PRINTABLE) {
        return Rdn({Attr(Oid(oid), type, value)});
    };
    std::string name = Name({at({2, 5, 4, 6}, "JP"), at({2, 5, 4, 10}, "Org"), at({2, 5, 4, 11}, "Unit"),
                             at({2, 5, 4, 3}, "Name"), at({2, 5, 4, 7}, "Town"), at({2, 5, 4, 8}, "State"),
                             at({2, 5, 4, 9}, "Main"), at({2, 5, 4, 12}, "Dr"), at({2, 5, 4, 42}, "Given"),
                             at({2, 5, 4, 43}, "X"), at({2, 5, 4, 4}, "Sur"),
                             at({0, 9, 2342, 19200300, 100, 1, 25}, "com", IA5), at({2, 5, 4, 5}, "42"),
                             at({1, 2, 840, 113549, 1, 9, 1}, "a@b", IA5)});
    EXPECT_EQ(ToStr(name), "C=JP, O=Org, OU=Unit, CN=Name, L=Town, S=State, STREET=Main, T=Dr, G=Given, I=X, "
                           "SN=Sur, DC=com, SERIALNUMBER=42, E=a@b");
    // Several attributes in one RDN are joined by " + ".
    std::string multi = Name({Rdn({Attr(Oid({2, 5, 4, 3}), UTF8, "a"), Attr(Oid({2, 5, 4, 11}), UTF8, "b")})});
    EXPECT_EQ(ToStr(multi), "CN=a + OU=b");
}

TEST(Names, AnAttributeWithoutKeyNameIsWrittenAsOidAndItsIdentifier)
{
    ExpectDivergenceOnWine("Wine 8 writes the bare dotted identifier, without the documented \"OID.\"");
    EXPECT_EQ(ToStr(Name({Rdn({Attr(Oid({1, 2, 3, 4}), PRINTABLE, "v")})})), "OID.1.2.3.4=v");
}

TEST(Names, TrailingBlanksAndEmptyValuesAreQuoted)
{
    ExpectDivergenceOnWine("Wine 8 quotes leading blanks only, and never an empty value");
    EXPECT_EQ(ToStr(Name({Cn("trail ")})), "CN=\"trail \"");
    EXPECT_EQ(ToStr(Name({Cn("")})), "CN=\"\"");
}

TEST(Names, ValuesWithLeadingBlanksOrSpecialCharactersAreQuoted)
{
    EXPECT_EQ(ToStr(Name({Cn(" lead")})), "CN=\" lead\"");
    for (const char* special : {",", "+", "=", "\n", "<", ">", "#", ";"})
        EXPECT_EQ(ToStr(Name({Cn(std::string("a") + special + "b")})), std::string("CN=\"a") + special + "b\"")
            << "special " << (int)special[0];
    EXPECT_EQ(ToStr(Name({Cn("say \"hi\"")})), "CN=\"say \"\"hi\"\"\"");
    EXPECT_EQ(ToStr(Name({Cn("Acme, Inc.")})), "CN=\"Acme, Inc.\"");
}

TEST(Names, UnicodeValuesComeInTheAnsiCodePage)
{
    EXPECT_EQ(ToStr(Name({Cn("\xE6\x97\xA5\xE6\x9C\xAC")})), "CN=日本");  // UTF8String; the literal is Shift-JIS
    EXPECT_EQ(ToStr(Name({Cn(std::string("\x65\xE5\x67\x2C", 4), BMP)})), "CN=日本");
    // A character the code page lacks (THAI CHARACTER KO KAI) becomes '?'.
    EXPECT_EQ(ToStr(Name({Cn("a\xE0\xB8\x81z")})), "CN=a?z");
}

TEST(Names, ATooSmallBufferGetsTheBeginningTerminated)
{
    ExpectDivergenceOnWine("Wine 8 writes nothing into a buffer that is too small");
    EXPECT_EQ(ToStr(Name({Cn("abcdef")}), 5), "CN=a");
}

TEST(Names, ReturnsTheLengthWithTheTerminator)
{
    DWORD returned = 0;
    EXPECT_EQ(ToStr(Name({}), 16, &returned), "");
    EXPECT_EQ(returned, 1u);
    std::string name = Name({Cn("abcdef")});
    CERT_NAME_BLOB blob = {(DWORD)name.size(), (BYTE*)name.data()};
    EXPECT_EQ(CertNameToStrA(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, nullptr, 0), 10u);

    PCCERT_CONTEXT alice = FixtureCert("alice.cer");
    ASSERT_NE(alice, nullptr);
    EXPECT_EQ(ToStr(std::string((const char*)alice->pCertInfo->Subject.pbData, alice->pCertInfo->Subject.cbData),
                    1024, &returned),
              "C=JP, O=Zandrel Test, CN=alice, E=alice@example.com");
    EXPECT_EQ(returned, 52u);
    CertFreeCertificateContext(alice);
}
