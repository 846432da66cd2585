// Callers of the message functions ask for the output size first (null
// buffer) and then call again to fill their buffer. Each call would do the
// whole encryption, decryption, signing or verification; instead the size
// query's result is remembered per thread and handed to the fill call that
// immediately follows with the same inputs. Any other call forgets it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include <windows.h>
#include <wincrypt.h>

// Identifies the inputs of one call: the operation, the parameters and a
// hash of the whole input data.
class QueryKey {
public:
    explicit QueryKey(int operation);
    void AddValue(const void* data, size_t size);
    template <typename T>
    void Add(const T& value) { AddValue(&value, sizeof value); }
    // Mixes in the pointer, the length and a hash of every byte.
    void AddData(const void* data, size_t size);
    void AddString(const char* text);
    bool operator==(const QueryKey& other) const { return bytes_ == other.bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

struct QueryResult {
    std::vector<uint8_t> data;
    PCCERT_CONTEXT cert = nullptr;  // a reference owned by the result
};

// Takes the remembered result when this is a fill call (`out` not null) and
// the result was made for `key`. Either way the thread's remembered result is
// gone afterwards: a second size query does the work again.
bool TakeQueryResult(const QueryKey& key, const void* out, QueryResult* result);

// Remembers `result` (taking its data and certificate reference) for `key`.
void RememberQueryResult(const QueryKey& key, QueryResult* result);

// Releases a result's certificate reference.
void ReleaseQueryResult(QueryResult* result);

// Hands the result's data out by the size-query pattern (see CopyToCaller).
// Unless the data went to the caller it is remembered for `key`; else released.
BOOL CopyOrRemember(const QueryKey& key, QueryResult* result, void* out, DWORD* outSize);
