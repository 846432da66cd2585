#pragma once

#include <windows.h>

#include "common/size_query.h"
#include "common/smime_result.h"

// The CMS object in the Base64 body that follows a message's header block,
// as new bytes (free()); null with errorText written when there is none.
BYTE* DecodeSmimeBody(const char* source, SmimeResult* result, DWORD* derSize);

// The same, for an object that must be of the given CMSG_ type; the inspection
// names its algorithms in result. Null with "Wrong message type" otherwise.
BYTE* DecodeSmimeBodyOfType(const char* source, DWORD type, SmimeResult* result, DWORD* derSize);

// After a size-queried call that unwraps a layer: true when it is done.
// Otherwise the record's errorText receives `failure` (or the allocation
// error), and a failure of the first call shows the system's text first when
// debugging.
bool UnwrapDone(SizeQueryOutcome outcome, const char* failure, SmimeResult* result);
