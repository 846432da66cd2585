// The encoding every crypt32 call of the module names: certificates in X.509,
// messages in PKCS #7.
#pragma once

#include <windows.h>
#include <wincrypt.h>

const DWORD MESSAGE_ENCODING = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
