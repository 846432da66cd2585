// The per-thread memory of the last size query (see crypt_query_cache.h).
#include "crypt_msg_common.h"  // first: OpenSSL before wincrypt
#include "crypt_query_cache.h"

#include <string.h>

#include <utility>

namespace {

struct RememberedQuery {
    bool valid = false;
    QueryKey key{0};
    QueryResult result;
    // Thread exit (and process exit for the main thread) frees what is left.
    ~RememberedQuery() { ReleaseQueryResult(&result); }
};

thread_local RememberedQuery t_remembered;

uint64_t Rotate(uint64_t x, int bits)
{
    return (x << bits) | (x >> (64 - bits));
}

uint64_t MixWord(uint64_t lane, const uint8_t* p)
{
    const uint64_t k1 = 0x9E3779B185EBCA87ull, k2 = 0xC2B2AE3D27D4EB4Full;
    uint64_t word;
    memcpy(&word, p, 8);
    return Rotate(lane + word * k2, 31) * k1;
}

// A 64-bit multiply-rotate hash in four independent lanes over 32-byte
// blocks: far cheaper than the crypto it guards, and it covers every byte,
// so a buffer refilled in place between the two calls is noticed.
uint64_t HashBytes(const uint8_t* data, size_t size)
{
    const uint64_t k1 = 0x9E3779B185EBCA87ull, k2 = 0xC2B2AE3D27D4EB4Full;
    uint64_t lanes[4] = {k1 + k2, k2, 0, 0 - k1};
    size_t i = 0;
    for (; i + 32 <= size; i += 32)
        for (int l = 0; l < 4; ++l)
            lanes[l] = MixWord(lanes[l], data + i + 8 * l);
    uint64_t h = (uint64_t)size;
    for (int l = 0; l < 4; ++l)
        h = (h ^ Rotate(lanes[l], 7 * (l + 1))) * k1;
    for (; i < size; ++i)
        h = (h ^ data[i]) * 0x100000001B3ull;
    h ^= h >> 33;
    h *= k2;
    h ^= h >> 29;
    return h;
}

}  // namespace

QueryKey::QueryKey(int operation)
{
    Add(operation);
}

void QueryKey::AddValue(const void* data, size_t size)
{
    const uint8_t* bytes = (const uint8_t*)data;
    bytes_.insert(bytes_.end(), bytes, bytes + size);
}

void QueryKey::AddData(const void* data, size_t size)
{
    Add(data);
    Add(size);
    Add(data != nullptr ? HashBytes((const uint8_t*)data, size) : 0);
}

void QueryKey::AddString(const char* text)
{
    if (text == nullptr)
        Add(0);
    else
        AddData(text, strlen(text));
}

bool TakeQueryResult(const QueryKey& key, const void* out, QueryResult* result)
{
    if (!t_remembered.valid)
        return false;
    bool same = out != nullptr && t_remembered.key == key;
    t_remembered.valid = false;
    if (same) {
        *result = std::move(t_remembered.result);
        t_remembered.result = QueryResult();
    } else {
        ReleaseQueryResult(&t_remembered.result);
    }
    t_remembered.key = QueryKey(0);
    return same;
}

void RememberQueryResult(const QueryKey& key, QueryResult* result)
{
    ReleaseQueryResult(&t_remembered.result);
    t_remembered.key = key;
    t_remembered.result = std::move(*result);
    *result = QueryResult();
    t_remembered.valid = true;
}

void ReleaseQueryResult(QueryResult* result)
{
    if (result->cert != nullptr)
        CertFreeCertificateContext(result->cert);
    result->cert = nullptr;
    result->data = std::vector<uint8_t>();
}

BOOL CopyOrRemember(const QueryKey& key, QueryResult* result, void* out, DWORD* outSize)
{
    size_t size = result->data.size();
    bool consumed = out != nullptr && *outSize >= size;
    BOOL copied = CopyToCaller(result->data.data(), size, out, outSize);
    if (!consumed && size <= 0xFFFFFFFFu) {
        DWORD error = GetLastError();
        RememberQueryResult(key, result);
        SetLastError(error);
    } else {
        ReleaseQueryResult(result);
    }
    return copied;
}
