// Test-only failures of platform functions (see ZPlatformInjectFailure).
#pragma once

// True when the named function's current call is the one that must fail;
// counts the call otherwise.
bool FailureDue(const char* function);
