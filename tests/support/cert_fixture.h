// Certificate tests: a fixture with private system stores and a headless UI,
// and helpers to load, count and make certificates.
#pragma once

#include <string>
#include <vector>

#include <windows.h>
#include <wincrypt.h>

#include "support/test_pki.h"
#include "support/test_support.h"

// The stores live under a fresh $XDG_DATA_HOME; message boxes go to the
// host's transcript.
class CertStoreFixture : public ::testing::Test {
protected:
    void SetUp() override;

    // The transcript's message boxes, as "box: [caption] text" in UTF-8.
    std::vector<std::string> Boxes() const;
    // The line a standard plug-in message box leaves (text given in Shift-JIS).
    static std::string MessageLine(const char* sjisText);

    TempDir dir_;
};

// A context for the certificate in a DER file, or null; free it with
// CertFreeCertificateContext.
PCCERT_CONTEXT LoadCert(const std::string& derPath);

// How many certificates a system store of the current user holds.
int CountCerts(const char* storeName);

// Runs the openssl command line with the given arguments; true on success.
bool RunOpenssl(const std::string& arguments);

// A self-signed certificate with an empty subject and an e-mail only in its
// subjectAltName, written into dir (files named after `name`).
TestCert MakeNamelessCert(const std::string& dir, const std::string& name, const std::string& email);
