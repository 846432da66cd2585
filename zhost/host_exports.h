#pragma once

// The host's functions are exported from the executable by their plain names.
#ifdef _WIN32
#define ZHOST_EXPORT extern "C" __declspec(dllexport)
#else
#define ZHOST_EXPORT extern "C" __attribute__((visibility("default")))
#endif
