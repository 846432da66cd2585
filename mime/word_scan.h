// Byte tests on eight bytes at a time, for the scans that run over every byte
// of a message (line ends while parsing, relay-safe bytes while signing).
#pragma once

#include <stdint.h>
#include <string.h>

const uint64_t kByteOnes = 0x0101010101010101ULL;
const uint64_t kByteHighs = 0x8080808080808080ULL;

// The eight bytes at text, in memory order whatever their alignment.
inline uint64_t LoadWord(const char* text)
{
    uint64_t word;
    memcpy(&word, text, 8);
    return word;
}

// Non-zero when a byte of word is zero. Borrows may mark bytes after a zero
// byte too, so the result answers "any?", not "which?".
inline uint64_t ZeroBytes(uint64_t word)
{
    return (word - kByteOnes) & ~word & kByteHighs;
}

// Non-zero when a byte of word is c.
inline uint64_t BytesEqual(uint64_t word, char c)
{
    return ZeroBytes(word ^ (kByteOnes * (unsigned char)c));
}

// Non-zero when a byte of word is above 0x7F.
inline uint64_t HighBytes(uint64_t word)
{
    return word & kByteHighs;
}
