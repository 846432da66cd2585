// Failures that a real system produces only under duress (a full disk, a
// store the user may not open), made to happen on demand for tests.
#include <string.h>

#include <mutex>
#include <string>

#include <zplatform.h>

#include "fault_injection.h"

namespace {

std::mutex g_lock;
std::string g_function;  // empty: nothing injected
unsigned g_skip = 0;

}  // namespace

bool FailureDue(const char* function)
{
    std::lock_guard<std::mutex> lock(g_lock);
    if (g_function.empty() || g_function != function)
        return false;
    if (g_skip > 0) {
        --g_skip;
        return false;
    }
    g_function.clear();
    return true;
}

extern "C" void ZPlatformInjectFailure(const char* function, unsigned skip)
{
    std::lock_guard<std::mutex> lock(g_lock);
    g_function = function != nullptr ? function : "";
    g_skip = skip;
}
