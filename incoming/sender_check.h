// Whether a signed message's From address belongs to its signer.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include "common/smime_result.h"

// The outer headers are not covered by the signature, so anyone can rewrite
// them. When the From address of `source` (a whole message) is neither the
// signer certificate's e-mail attribute nor one of its subjectAltName
// rfc822Names (ASCII letters compared without case), the address is put
// into result->unlistedSender for the report. A message without a From
// address is left alone.
void NoteUnlistedSender(const char* source, PCCERT_CONTEXT signer, SmimeResult* result);
