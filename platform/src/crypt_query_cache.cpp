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

// A 64-bit multiply-rotate hash over 8-byte words: far cheaper than the
// crypto it guards, and it covers every byte, so a buffer refilled in place
// between the two calls is noticed.
uint64_t HashBytes(const uint8_t* data, size_t size)
{
    const uint64_t k1 = 0x9E3779B185EBCA87ull, k2 = 0xC2B2AE3D27D4EB4Full;
    uint64_t h = k1 ^ (uint64_t)size;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        memcpy(&word, data + i, 8);
        word *= k2;
        word = (word << 31) | (word >> 33);
        h ^= word * k1;
        h = ((h << 27) | (h >> 37)) * k1 + 0x52DCE729;
    }
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
