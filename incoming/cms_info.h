// The type of a DER CMS object and the names of its algorithms.
#pragma once

#include <windows.h>

#include "common/smime_result.h"

// Returns the CMSG_ type (0 when it cannot be read); result may be null.
DWORD InspectCmsMessage(const BYTE* der, DWORD count, SmimeResult* result);
