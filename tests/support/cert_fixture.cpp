#include "support/cert_fixture.h"

#include <stdlib.h>

#include "zhost/zhost.h"

void CertStoreFixture::SetUp()
{
    ResetHost();
    Host().echo = false;
    InstallUiDriver();
    setenv("XDG_DATA_HOME", dir_.path().c_str(), 1);
}

std::vector<std::string> CertStoreFixture::Boxes() const
{
    std::vector<std::string> boxes;
    for (const std::string& line : Host().transcript)
        if (line.compare(0, 5, "box: ") == 0)
            boxes.push_back(line);
    return boxes;
}

std::string CertStoreFixture::MessageLine(const char* sjisText)
{
    return "box: [" + Utf8("メッセージ") + "] " + Utf8(sjisText);
}

PCCERT_CONTEXT LoadCert(const std::string& derPath)
{
    std::string der = ReadFile(derPath);
    if (der.empty())
        return NULL;
    return CertCreateCertificateContext(X509_ASN_ENCODING, (const BYTE*)der.data(), (DWORD)der.size());
}

int CountCerts(const char* storeName)
{
    HCERTSTORE store = CertOpenSystemStoreA(0, storeName);
    if (store == NULL)
        return -1;
    int count = 0;
    for (PCCERT_CONTEXT cert = CertEnumCertificatesInStore(store, NULL); cert != NULL;
         cert = CertEnumCertificatesInStore(store, cert))
        ++count;
    CertCloseStore(store, 0);
    return count;
}

bool RunOpenssl(const std::string& arguments)
{
    std::string command = "openssl " + arguments + " >/dev/null 2>&1";
    return system(command.c_str()) == 0;
}

TestCert MakeNamelessCert(const std::string& dir, const std::string& name, const std::string& email)
{
    TestCert cert;
    cert.name = name;
    cert.keyPem = dir + "/" + name + ".key";
    cert.certPem = dir + "/" + name + ".pem";
    cert.certDer = dir + "/" + name + ".der";
    cert.p12 = dir + "/" + name + ".p12";
    cert.email = email;
    bool made = RunOpenssl("req -x509 -newkey rsa:2048 -nodes -days 30 -subj / -keyout " + cert.keyPem +
                           " -out " + cert.certPem + " -addext subjectAltName=email:" + email) &&
                RunOpenssl("x509 -in " + cert.certPem + " -outform DER -out " + cert.certDer) &&
                RunOpenssl("pkcs12 -export -in " + cert.certPem + " -inkey " + cert.keyPem +
                           " -passout pass:test -out " + cert.p12);
    EXPECT_TRUE(made) << "openssl could not make " << name;
    return cert;
}
