// A small bounds-checked reader for DER (definite lengths, one-byte tags)
// and the matching encoder, for the few structures the message functions
// take apart or build by hand.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include <windows.h>

struct DerTlv {
    uint8_t tag = 0;
    const uint8_t* start = nullptr;  // the tag byte
    size_t total = 0;                // header and value
    const uint8_t* value = nullptr;
    size_t length = 0;
};

// Why the last read failed, as the CryptoAPI ASN.1 error code.
class DerReader {
public:
    DerReader(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
    explicit DerReader(const DerTlv& tlv) : p_(tlv.value), end_(tlv.value + tlv.length) {}

    bool AtEnd() const { return p_ == end_; }
    bool ReadAny(DerTlv* out);
    bool Read(uint8_t tag, DerTlv* out);
    DWORD error() const { return error_; }

private:
    const uint8_t* p_;
    const uint8_t* end_;
    DWORD error_ = 0;
};

std::vector<uint8_t> DerHeader(uint8_t tag, size_t length);
std::vector<uint8_t> DerEncode(uint8_t tag, const std::vector<uint8_t>& content);

// `path` runs from an outer element inwards, each element lying in the one
// before it; the lengths around a change are written anew.
// - DerWithout: a copy of path[0] without `cut`, which lies in the last of path.
// - DerGrownPrefix: the first bytes of path[0] once `extra` bytes are added at
//   the end of the last of path: everything but those bytes. Empty when
//   something follows an element of the path within the one around it.
std::vector<uint8_t> DerWithout(const DerTlv* path, size_t depth, const DerTlv& cut);
std::vector<uint8_t> DerGrownPrefix(const DerTlv* path, size_t depth, size_t extra);

// Checks the header of an outer SEQUENCE (definite or indefinite length):
// 0 when it is one whose length fits the data, else the ASN.1 error code.
DWORD CheckOuterSequence(const uint8_t* data, size_t size);

// The contentType OID (value bytes) of a ContentInfo whose outer header
// CheckOuterSequence accepted; false when it is not readable.
bool ReadContentTypeOid(const uint8_t* data, size_t size, DerTlv* oid);

// The digestAlgorithms SET of a SignedData ContentInfo. Only the headers on
// the way are read, so outer indefinite lengths (BER) are fine.
bool ReadSignedDigestSet(const uint8_t* data, size_t size, DerTlv* set);
