#include "support/smime_samples.h"

#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <zplatform.h>

#include "support/test_support.h"

const char kOuterHeaders[] =
    "Date: Tue, 08 Dec 2026 03:00:00 +0900\r\n"
    "Subject: quarterly numbers\r\n"
    "From: Alice <alice@example.com>\r\n"
    "To: Bob <bob@example.com>\r\n";

const char kPlainEntity[] =
    "Content-Type: text/plain; charset=us-ascii\r\n"
    "Content-Transfer-Encoding: 7bit\r\n"
    "\r\n"
    "The numbers are in.\r\n"
    "-- \r\n"
    "Bob\r\n";

static std::string OpensslPath()
{
    const char* path = getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        std::string candidate = dirs.substr(start, end - start) + "/openssl";
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return "/usr/bin/openssl";
}

bool RunOpenssl(std::vector<std::string> args)
{
    args.insert(args.begin(), OpensslPath());
    // RC2 and single DES live in the legacy provider of OpenSSL 3.
    args.insert(args.begin() + 2, {"-provider", "legacy", "-provider", "default"});
    ProcessResult r = RunProcess(args);
    if (r.exitCode != 0) {
        std::string line;
        for (const std::string& a : args)
            line += a + " ";
        ADD_FAILURE() << line << "\n" << r.err;
        return false;
    }
    return true;
}

std::string EncryptEntity(const std::string& entity, const TestCert& to, const std::string& cipher,
                          const std::string& tool, const std::vector<std::string>& extra)
{
    TempDir dir;
    WriteFile(dir.File("in"), entity);
    std::vector<std::string> args = {tool, "-encrypt", "-" + cipher, "-crlfeol"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.insert(args.end(), {"-in", dir.File("in"), "-out", dir.File("out"), to.certPem});
    return RunOpenssl(args) ? ReadFile(dir.File("out")) : std::string();
}

std::string SignEntity(const std::string& entity, const TestCert& signer, const std::string& digest,
                       bool detached, const std::string& tool, const std::vector<std::string>& extra)
{
    TempDir dir;
    WriteFile(dir.File("in"), entity);
    std::vector<std::string> args = {tool, "-sign", "-md", digest, "-crlfeol"};
    if (!detached)
        args.push_back("-nodetach");
    args.insert(args.end(), extra.begin(), extra.end());
    args.insert(args.end(), {"-signer", signer.certPem, "-inkey", signer.keyPem, "-in",
                             dir.File("in"), "-out", dir.File("out")});
    return RunOpenssl(args) ? ReadFile(dir.File("out")) : std::string();
}

std::string Received(const std::string& outerHeaders, const std::string& entity)
{
    return outerHeaders + entity;
}

std::string TamperBase64Body(const std::string& message, const std::string& from,
                             const std::string& to)
{
    size_t blank = message.find("\r\n\r\n");
    if (blank == std::string::npos)
        return message;
    std::string encoded;
    for (size_t i = blank + 4; i < message.size(); ++i)
        if (message[i] != '\r' && message[i] != '\n')
            encoded += message[i];
    std::string der(encoded.size(), '\0');
    int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&der[0]),
                            reinterpret_cast<const unsigned char*>(encoded.data()),
                            (int)encoded.size());
    if (n < 0)
        return message;
    size_t pad = 0;
    for (size_t i = encoded.size(); i > 0 && encoded[i - 1] == '='; --i)
        ++pad;
    der.resize(n - pad);
    size_t at = der.find(from);
    if (at == std::string::npos)
        return message;
    der.replace(at, from.size(), to);
    std::string out(4 * ((der.size() + 2) / 3) + 1, '\0');
    int m = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                            reinterpret_cast<const unsigned char*>(der.data()), (int)der.size());
    out.resize(m);
    std::string body;
    for (size_t i = 0; i < out.size(); i += 64)
        body += out.substr(i, 64) + "\r\n";
    return message.substr(0, blank + 4) + body;
}
