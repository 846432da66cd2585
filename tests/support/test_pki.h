// A small PKI generated at test time (once per test process) with OpenSSL,
// and helpers to install its certificates into the current user's stores.
#pragma once

#include <string>

// One generated certificate. Every file exists on disk after construction.
struct TestCert {
    std::string name;       // the key in TestPki::Get
    std::string certPem;    // path of the certificate, PEM
    std::string certDer;    // path of the certificate, DER
    std::string keyPem;     // path of the private key, PEM (unencrypted)
    std::string p12;        // path of a PKCS #12 with key and certificate, password "test"
    std::string subject;    // the subject as CertNameToStrA writes it (CERT_X500_NAME_STR), UTF-8
    std::string email;      // the e-mail name (CertGetNameStringA CERT_NAME_EMAIL_TYPE), or empty
};

// Names available from Get():
//   "root"          self-signed CA (keyCertSign), valid now
//   "intermediate"  CA issued by root
//   "alice"         digitalSignature + keyEncipherment, issued by root, alice@example.com
//   "bob"           digitalSignature + keyEncipherment, issued by root, bob@example.com
//   "carol"         digitalSignature + keyEncipherment, issued by root, carol@example.com
//   "signer"        digitalSignature only, issued by root, signer@example.com
//   "encipher"      keyEncipherment only, issued by root, encipher@example.com
//   "nousage"       no key-usage extension, issued by root, nousage@example.com
//   "expired"       both usages, issued by root, validity ended, expired@example.com
//   "future"        both usages, issued by root, not yet valid, future@example.com
//   "dup-sign"      digitalSignature only, issued by root, dup@example.com
//   "dup-enc"       keyEncipherment only, issued by root, dup@example.com
//   "subject-email" e-mail only as the subject's emailAddress, subject-email@example.com
//   "san-email"     e-mail only in subjectAltName, san-email@example.com
//   "inter-user"    both usages, issued by intermediate, inter-user@example.com
//   "selfsigned"    self-signed end entity with both usages, self@example.com
//   "forged"        issuer name copied from root but signed by another key, forged@example.com
//   "stranger"      both usages, issued by a CA that is in no store, stranger@example.com
//   "old-intermediate" CA issued by root, validity ended
//   "old-inter-user" both usages, issued by old-intermediate, old-inter-user@example.com
//   "dave-expired", "dave-earlier", "dave"  both usages, issued by root, dave@example.com:
//                   validity ended, began a month ago, began a day ago
//   "dave-stranger" both usages, issued by the stranger CA an hour ago, dave@example.com
//   "planted-alice" self-signed, both usages, subject and e-mail as alice's
//   "pat-upper", "pat-lower", "pat-smith"  both usages, issued by root, no e-mail;
//                   common names "Pat", "pat" and "Pat Smith"
class TestPki {
public:
    // The process-wide PKI, generated on first use into a temporary folder.
    static const TestPki& Instance();
    const TestCert& Get(const std::string& name) const;
    const std::string& dir() const { return dir_; }

private:
    TestPki();
    std::string dir_;
};

// Installs a certificate into a system store of the current user (the stores
// under $XDG_DATA_HOME): "MY" with its private key when withKey, else without.
void InstallCert(const std::string& store, const TestCert& cert, bool withKey = false);

// Removes a certificate from a system store of the current user.
void RemoveStoreCert(const std::string& store, const TestCert& cert);
