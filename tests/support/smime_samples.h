// S/MIME messages made with the openssl command line (as another mail client
// would send them).
#pragma once

#include <string>
#include <vector>

#include <windows.h>

#include "support/box_recorder.h"
#include "support/test_pki.h"

// Runs openssl with the legacy ciphers available; false (with a test failure
// recorded) when it does not succeed.
bool RunOpenssl(std::vector<std::string> args);

// An openssl invocation on one input entity; the S/MIME entity it writes.
// tool is "cms" or "smime"; extra options go before the file names.
std::string EncryptEntity(const std::string& entity, const TestCert& to, const std::string& cipher,
                          const std::string& tool = "cms",
                          const std::vector<std::string>& extra = {});
std::string SignEntity(const std::string& entity, const TestCert& signer, const std::string& digest,
                       bool detached, const std::string& tool = "cms",
                       const std::vector<std::string>& extra = {});

// A received message: outer header lines (each ending in CR LF) in front of
// the S/MIME entity's own header block.
std::string Received(const std::string& outerHeaders, const std::string& entity);

// The headers every sample message gets from its sender.
extern const char kOuterHeaders[];
// A small plain MIME entity in CR LF form.
extern const char kPlainEntity[];

// The message with the bytes `from` replaced by `to` inside its Base64 body
// (the first occurrence in the decoded object), the body re-encoded.
std::string TamperBase64Body(const std::string& message, const std::string& from,
                             const std::string& to);
