// Checking a signer's certificate against the "Root" store.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include "common/smime_result.h"

int CheckSignerTrust(PCCERT_CONTEXT cert, SmimeResult* result);
PCCERT_CONTEXT WINAPI GetSignerCertificate(void* arg, DWORD encoding, PCERT_INFO signerId,
                                           HCERTSTORE messageStore);
