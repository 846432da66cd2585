// The platform tests build twice: over the POSIX layer, and with MinGW over
// Windows' own DLLs, which the Wine suite runs under Wine. They use only the
// Windows API and the fixed files in fixtures/ (their working folder).
#pragma once

#include <string>

#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

// The bytes of a fixture file; empty (and a test failure) when it is missing.
std::string Fixture(const char* name);

// A certificate context of a fixture file (DER); the caller frees it.
PCCERT_CONTEXT FixtureCert(const char* name);

// True when the Windows API of this process is Wine's.
bool OnWine();

// Under Wine, a failure of the running test is reported as an expected
// divergence with this reason (Wine is known to behave unlike Windows here);
// elsewhere it changes nothing.
void ExpectDivergenceOnWine(const char* reason);

// Under Wine, records the test as an expected divergence and returns true, so
// that the test skips a call Wine lacks (or whose stub ends the process).
bool WineLacks(const char* reason);
#define SKIP_WHERE_WINE_LACKS(reason) \
    if (WineLacks(reason))            \
    GTEST_SKIP() << (reason)
