#include "der_reader.h"

#include <wincrypt.h>

namespace {

// Reads a header at p; sets the value length (or SIZE_MAX for indefinite).
DWORD ReadHeader(const uint8_t* p, const uint8_t* end, size_t* headerSize, size_t* length)
{
    if (end - p < 2)
        return CRYPT_E_ASN1_EOD;
    if ((p[0] & 0x1F) == 0x1F)
        return CRYPT_E_ASN1_BADTAG;  // multi-byte tags never occur here
    uint8_t first = p[1];
    if (first < 0x80) {
        *headerSize = 2;
        *length = first;
        return 0;
    }
    if (first == 0x80) {
        *headerSize = 2;
        *length = SIZE_MAX;
        return 0;
    }
    size_t count = first & 0x7F;
    if (count > 4)
        return CRYPT_E_ASN1_LARGE;
    if ((size_t)(end - p) < 2 + count)
        return CRYPT_E_ASN1_EOD;
    size_t value = 0;
    for (size_t i = 0; i < count; ++i)
        value = (value << 8) | p[2 + i];
    *headerSize = 2 + count;
    *length = value;
    return 0;
}

}  // namespace

bool DerReader::ReadAny(DerTlv* out)
{
    size_t headerSize = 0, length = 0;
    DWORD error = ReadHeader(p_, end_, &headerSize, &length);
    if (error == 0 && length == SIZE_MAX)
        error = CRYPT_E_ASN1_CORRUPT;  // DER only
    if (error == 0 && length > (size_t)(end_ - p_) - headerSize)
        error = CRYPT_E_ASN1_EOD;
    if (error != 0) {
        error_ = error;
        return false;
    }
    out->tag = p_[0];
    out->start = p_;
    out->value = p_ + headerSize;
    out->length = length;
    out->total = headerSize + length;
    p_ += out->total;
    return true;
}

bool DerReader::Read(uint8_t tag, DerTlv* out)
{
    if (p_ < end_ && *p_ != tag) {
        error_ = CRYPT_E_ASN1_BADTAG;
        return false;
    }
    return ReadAny(out);
}

std::vector<uint8_t> DerHeader(uint8_t tag, size_t length)
{
    std::vector<uint8_t> out;
    out.push_back(tag);
    if (length < 0x80) {
        out.push_back((uint8_t)length);
        return out;
    }
    uint8_t digits[sizeof(size_t)];
    size_t count = 0;
    for (size_t rest = length; rest != 0; rest >>= 8)
        digits[count++] = (uint8_t)(rest & 0xFF);
    out.push_back((uint8_t)(0x80 | count));
    while (count > 0)
        out.push_back(digits[--count]);
    return out;
}

std::vector<uint8_t> DerEncode(uint8_t tag, const std::vector<uint8_t>& content)
{
    std::vector<uint8_t> out = DerHeader(tag, content.size());
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

std::vector<uint8_t> DerWithout(const DerTlv* path, size_t depth, const DerTlv& cut)
{
    const DerTlv& outer = path[0];
    const uint8_t* skipFrom = cut.start;
    const uint8_t* skipTo = cut.start + cut.total;
    std::vector<uint8_t> inner;
    if (depth > 1) {
        inner = DerWithout(path + 1, depth - 1, cut);
        skipFrom = path[1].start;
        skipTo = path[1].start + path[1].total;
    }
    std::vector<uint8_t> content(outer.value, skipFrom);
    content.insert(content.end(), inner.begin(), inner.end());
    content.insert(content.end(), skipTo, outer.value + outer.length);
    return DerEncode(outer.tag, content);
}

std::vector<uint8_t> DerGrownPrefix(const DerTlv* path, size_t depth, size_t extra)
{
    const DerTlv& outer = path[0];
    std::vector<uint8_t> content;
    if (depth == 1) {
        content.assign(outer.value, outer.value + outer.length);
    } else {
        const DerTlv& next = path[1];
        if (next.start + next.total != outer.value + outer.length)
            return {};  // something follows the element that grows
        std::vector<uint8_t> inner = DerGrownPrefix(path + 1, depth - 1, extra);
        if (inner.empty())
            return {};
        content.assign(outer.value, next.start);
        content.insert(content.end(), inner.begin(), inner.end());
    }
    std::vector<uint8_t> out = DerHeader(outer.tag, content.size() + extra);
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

DWORD CheckOuterSequence(const uint8_t* data, size_t size)
{
    if (data == nullptr || size == 0)
        return CRYPT_E_ASN1_EOD;
    if (data[0] != 0x30)
        return CRYPT_E_ASN1_BADTAG;
    size_t headerSize = 0, length = 0;
    DWORD error = ReadHeader(data, data + size, &headerSize, &length);
    if (error != 0)
        return error;
    if (length != SIZE_MAX && length > size - headerSize)
        return CRYPT_E_ASN1_EOD;
    return 0;
}

bool ReadContentTypeOid(const uint8_t* data, size_t size, DerTlv* oid)
{
    size_t headerSize = 0, length = 0;
    if (CheckOuterSequence(data, size) != 0 || ReadHeader(data, data + size, &headerSize, &length) != 0)
        return false;
    size_t available = size - headerSize;
    if (length != SIZE_MAX && length < available)
        available = length;
    DerReader inner(data + headerSize, available);
    return inner.Read(0x06, oid);
}

bool ReadSignedDigestSet(const uint8_t* data, size_t size, DerTlv* set)
{
    // ContentInfo { contentType, [0] EXPLICIT SignedData { version, digestAlgorithms SET, ... } }
    const uint8_t* p = data;
    const uint8_t* end = data + size;
    size_t headerSize = 0, length = 0;
    DerTlv item;
    for (uint8_t tag : {0x30, 0x06, 0xA0, 0x30, 0x02}) {
        if (p >= end || *p != tag || ReadHeader(p, end, &headerSize, &length) != 0)
            return false;
        if (tag == 0x06 || tag == 0x02) {  // skipped whole
            DerReader reader(p, (size_t)(end - p));
            if (!reader.Read(tag, &item))
                return false;
            p += item.total;
        } else {
            p += headerSize;  // entered
        }
    }
    DerReader reader(p, (size_t)(end - p));
    return reader.Read(0x31, set);
}
