// Shared by the outgoing tests: a plug-in with the test PKI installed, a
// composer holding a message, and openssl as the peer that reads the result.
#pragma once

#include <string>
#include <vector>

#include "support/test_pki.h"
#include "support/test_support.h"

extern const char kEncryptCommand[];
extern const char kSignCommand[];
extern const char kSignEncryptCommand[];

// A small composed message (CR LF) with the given extra header lines.
std::string ComposedMessage(const std::string& headers);

class OutgoingTest : public PluginFixture {
protected:
    // Root in "Root", alice with her key in "MY", bob and carol in "CA".
    void InstallPki();
    // Writes the settings and loads the plug-in (again, when loaded before).
    void LoadWith(const std::vector<std::string>& settings);
    // Puts text in the composer, runs the command, returns the composer.
    std::string Run(const char* description, const std::string& text);
    // The transcript's box lines (UTF-8).
    std::vector<std::string> Boxes() const;
    // text with the "X-SMIME-Plugin" header that result carries (which must name
    // the plug-in): what the composer holds after a command that only stamps.
    static std::string Stamped(std::string text, const std::string& result);

    // openssl as the peer: the decrypted content with the key of cert, or the
    // content of a verified signature; *ok false when openssl refuses.
    std::string Decrypt(const std::string& message, const TestCert& cert, bool* ok, bool useSmime = false);
    std::string Verify(const std::string& message, bool* ok, bool withRoot = true);

    const TestPki& pki() const { return TestPki::Instance(); }
};

std::string OpensslPath();
// Runs openssl with args; file inputs are written to dir first.
ProcessResult Openssl(const std::vector<std::string>& args);
