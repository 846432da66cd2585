// The whole decrypt/verify command on one received message, inside a stand-in
// host (zhost's core, linked in, exports the host functions). The fixed fuzz
// identity is in "MY" and its root in "Root", so well-formed seeds decrypt and
// verify and mutations reach every layer.
//
// Checked on every input besides memory safety: each source the host handed
// out is given back, nothing is freed that the host never gave, exactly one
// final box ends the run, and a run whose first layer failed leaves the
// host's message as it was.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include <windows.h>
#include <wincrypt.h>

#include "common/host_api.h"
#include "incoming/decrypt_verify.h"
#include "zhost/zhost.h"

#ifndef FUZZ_KEYS_DIR
#define FUZZ_KEYS_DIR "fuzz/decrypt_verify_keys"
#endif

namespace {

std::vector<BYTE> ReadBytes(const std::string& path)
{
    std::vector<BYTE> bytes;
    FILE* f = fopen(path.c_str(), "rb");
    if (f == NULL)
        return bytes;
    BYTE buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + n);
    fclose(f);
    return bytes;
}

void Die(const char* what)
{
    fprintf(stderr, "decrypt_verify_fuzz: %s\n", what);
    abort();
}

// The fuzz identity with its key into "MY", its root into "Root".
void InstallIdentity()
{
    std::vector<BYTE> p12 = ReadBytes(std::string(FUZZ_KEYS_DIR) + "/user.p12");
    std::vector<BYTE> root = ReadBytes(std::string(FUZZ_KEYS_DIR) + "/root.der");
    if (p12.empty() || root.empty())
        Die("cannot read the fuzz identity (set FUZZ_KEYS_DIR)");

    static const WCHAR kPassword[] = {'t', 'e', 's', 't', 0};
    CRYPT_DATA_BLOB blob = {(DWORD)p12.size(), p12.data()};
    HCERTSTORE pfx = PFXImportCertStore(&blob, kPassword, CRYPT_EXPORTABLE | CRYPT_USER_KEYSET);
    HCERTSTORE my = CertOpenSystemStoreA(0, "MY");
    HCERTSTORE rootStore = CertOpenSystemStoreA(0, "Root");
    if (pfx == NULL || my == NULL || rootStore == NULL)
        Die("cannot open the stores");
    PCCERT_CONTEXT cert = NULL;
    while ((cert = CertEnumCertificatesInStore(pfx, cert)) != NULL)
        CertAddCertificateContextToStore(my, cert, CERT_STORE_ADD_REPLACE_EXISTING, NULL);
    CertAddEncodedCertificateToStore(rootStore, X509_ASN_ENCODING, root.data(),
                                     (DWORD)root.size(), CERT_STORE_ADD_REPLACE_EXISTING, NULL);
    CertCloseStore(pfx, 0);
    CertCloseStore(my, 0);
    CertCloseStore(rootStore, 0);
}

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, strlen(prefix), prefix) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    char pattern[] = "/tmp/zsmime-fuzz-XXXXXX";
    const char* home = mkdtemp(pattern);
    if (home == NULL)
        Die("no temporary folder");
    setenv("XDG_DATA_HOME", home, 1);
    Host().echo = getenv("DECRYPT_VERIFY_FUZZ_ECHO") != NULL;  // the boxes, for a look at one input
    InstallUiDriver();
    if (!g_host.Bind())
        Die("the host functions are not exported");
    InstallIdentity();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ResetHost();
    std::string message(reinterpret_cast<const char*>(data), size);
    message = message.c_str();  // the host's texts end at their first NUL
    Host().hasMessage = true;
    Host().message = message;

    DecryptVerifyCommand();

    if (Host().liveTexts != 0)
        Die("a source was not given back");
    if (Host().badFrees != 0)
        Die("freed a text the host never gave");
    if (Host().transcript.empty())
        Die("no final box");
    // Failure at the first layer: no report in the failure box, nothing written.
    const std::string& last = Host().transcript.back();
    std::string failure = "box: [" + TranscriptText("メッセージ") + "] " +
                          TranscriptText("S/MIMEメッセージを解析できません");
    bool firstLayerFailed = StartsWith(last, failure.c_str()) &&
                            last.find(TranscriptText("このメッセージは")) == std::string::npos;
    if (firstLayerFailed && Host().message != message)
        Die("a failed run changed the message");
    return 0;
}
