#include "support/crypt_msg_helpers.h"

#include <stdio.h>
#include <stdlib.h>

#include "platform/src/crypt_internal.h"

ByteString ToBytes(const std::string& text)
{
    return ByteString(text.begin(), text.end());
}

std::string ToString(const ByteString& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

PCCERT_CONTEXT LoadCertContext(const TestCert& cert, bool withKey)
{
    FILE* certFile = fopen(cert.certPem.c_str(), "r");
    if (certFile == nullptr)
        return nullptr;
    X509* x509 = PEM_read_X509(certFile, nullptr, nullptr, nullptr);
    fclose(certFile);
    EVP_PKEY* key = nullptr;
    if (withKey) {
        FILE* keyFile = fopen(cert.keyPem.c_str(), "r");
        if (keyFile != nullptr) {
            key = PEM_read_PrivateKey(keyFile, nullptr, nullptr, nullptr);
            fclose(keyFile);
        }
    }
    PCCERT_CONTEXT context = x509 ? NewCertContext(x509, key) : nullptr;
    X509_free(x509);
    EVP_PKEY_free(key);
    return context;
}

HCERTSTORE StoreWith(const std::vector<PCCERT_CONTEXT>& certs)
{
    HCERTSTORE store = OpenMemoryStore();
    for (PCCERT_CONTEXT cert : certs)
        CertAddCertificateContextToStore(store, cert, CERT_STORE_ADD_ALWAYS, nullptr);
    return store;
}

bool Shell(const std::string& commandLine)
{
    std::string line = commandLine + " >>/tmp/zsmime-openssl.log 2>&1";
    return system(line.c_str()) == 0;
}

CRYPT_SIGN_MESSAGE_PARA SignParams(PCCERT_CONTEXT signer, const char* hashOid,
                                   PCCERT_CONTEXT* messageCert)
{
    CRYPT_SIGN_MESSAGE_PARA para = {};
    para.cbSize = sizeof para;
    para.dwMsgEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    para.pSigningCert = signer;
    para.HashAlgorithm.pszObjId = (LPSTR)hashOid;
    para.cMsgCert = 1;
    para.rgpMsgCert = messageCert;
    return para;
}

ByteString LayerSign(PCCERT_CONTEXT signer, const char* hashOid, bool detached,
                     const ByteString& content)
{
    CRYPT_SIGN_MESSAGE_PARA para = SignParams(signer, hashOid, &signer);
    return SignWith(&para, detached, content);
}

ByteString SignWith(CRYPT_SIGN_MESSAGE_PARA* para, bool detached, const ByteString& content)
{
    const BYTE* pieces[] = {content.data()};
    DWORD sizes[] = {(DWORD)content.size()};
    DWORD size = 0;
    if (!CryptSignMessage(para, detached, 1, pieces, sizes, nullptr, &size))
        return {};
    ByteString blob(size);
    if (!CryptSignMessage(para, detached, 1, pieces, sizes, blob.data(), &size))
        return {};
    blob.resize(size);
    return blob;
}

ByteString LayerEncrypt(const std::vector<PCCERT_CONTEXT>& recipients, const char* oid,
                        const ByteString& parameters, const ByteString& content)
{
    CRYPT_ENCRYPT_MESSAGE_PARA para = {};
    para.cbSize = sizeof para;
    para.dwMsgEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    para.ContentEncryptionAlgorithm.pszObjId = (LPSTR)oid;
    para.ContentEncryptionAlgorithm.Parameters.cbData = (DWORD)parameters.size();
    para.ContentEncryptionAlgorithm.Parameters.pbData = (BYTE*)parameters.data();
    std::vector<PCCERT_CONTEXT> list = recipients;
    DWORD size = 0;
    if (!CryptEncryptMessage(&para, (DWORD)list.size(), list.data(), content.data(),
                             (DWORD)content.size(), nullptr, &size))
        return {};
    ByteString blob(size);
    if (!CryptEncryptMessage(&para, (DWORD)list.size(), list.data(), content.data(),
                             (DWORD)content.size(), blob.data(), &size))
        return {};
    blob.resize(size);
    return blob;
}

CRYPT_VERIFY_MESSAGE_PARA VerifyParams()
{
    CRYPT_VERIFY_MESSAGE_PARA para = {};
    para.cbSize = sizeof para;
    para.dwMsgAndCertEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    return para;
}

ByteString VerifyOpaque(const ByteString& blob, DWORD* error, PCCERT_CONTEXT* signer)
{
    CRYPT_VERIFY_MESSAGE_PARA para = VerifyParams();
    DWORD size = 0;
    *error = 0;
    if (!CryptVerifyMessageSignature(&para, 0, blob.data(), (DWORD)blob.size(), nullptr, &size,
                                     nullptr)) {
        *error = GetLastError();
        return {};
    }
    ByteString content(size);
    if (!CryptVerifyMessageSignature(&para, 0, blob.data(), (DWORD)blob.size(), content.data(),
                                     &size, signer)) {
        *error = GetLastError();
        return {};
    }
    content.resize(size);
    return content;
}

DWORD VerifyDetached(const ByteString& signature, const ByteString& content,
                     PCCERT_CONTEXT* signer)
{
    CRYPT_VERIFY_MESSAGE_PARA para = VerifyParams();
    const BYTE* pieces[] = {content.data()};
    DWORD sizes[] = {(DWORD)content.size()};
    if (CryptVerifyDetachedMessageSignature(&para, 0, signature.data(), (DWORD)signature.size(), 1,
                                            pieces, sizes, signer))
        return 0;
    return GetLastError();
}

CRYPT_DECRYPT_MESSAGE_PARA DecryptParams(HCERTSTORE* store)
{
    CRYPT_DECRYPT_MESSAGE_PARA para = {};
    para.cbSize = sizeof para;
    para.dwMsgAndCertEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    para.cCertStore = 1;
    para.rghCertStore = store;
    return para;
}

ByteString Decrypt(const ByteString& blob, HCERTSTORE store, DWORD* error,
                   PCCERT_CONTEXT* used)
{
    CRYPT_DECRYPT_MESSAGE_PARA para = DecryptParams(&store);
    DWORD size = 0;
    *error = 0;
    if (!CryptDecryptMessage(&para, blob.data(), (DWORD)blob.size(), nullptr, &size, nullptr)) {
        *error = GetLastError();
        return {};
    }
    ByteString content(size);
    if (!CryptDecryptMessage(&para, blob.data(), (DWORD)blob.size(), content.data(), &size, used)) {
        *error = GetLastError();
        return {};
    }
    content.resize(size);
    return content;
}

ByteString DecryptWith(const ByteString& blob, PCCERT_CONTEXT withKey, DWORD* error)
{
    HCERTSTORE store = StoreWith({withKey});
    ByteString content = Decrypt(blob, store, error);
    CertCloseStore(store, 0);
    return content;
}

namespace {

HCRYPTMSG DecodedMessage(const ByteString& message)
{
    HCRYPTMSG msg =
        CryptMsgOpenToDecode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, 0, nullptr, nullptr);
    if (msg != nullptr && !CryptMsgUpdate(msg, message.data(), (DWORD)message.size(), TRUE)) {
        CryptMsgClose(msg);
        return nullptr;
    }
    return msg;
}

}  // namespace

DWORD MessageType(const ByteString& message)
{
    HCRYPTMSG msg = DecodedMessage(message);
    DWORD type = 0, size = sizeof type;
    if (msg != nullptr && !CryptMsgGetParam(msg, CMSG_TYPE_PARAM, 0, &type, &size))
        type = 0;
    CryptMsgClose(msg);
    return type;
}

bool MessageAlgorithm(const ByteString& message, DWORD param, std::string* oid,
                      ByteString* parameters)
{
    HCRYPTMSG msg = DecodedMessage(message);
    DWORD size = 0;
    bool ok = msg != nullptr && CryptMsgGetParam(msg, param, 0, nullptr, &size);
    std::vector<BYTE> buffer(size);
    ok = ok && CryptMsgGetParam(msg, param, 0, buffer.data(), &size);
    if (ok) {
        auto* algorithm = (CRYPT_ALGORITHM_IDENTIFIER*)buffer.data();
        *oid = algorithm->pszObjId;
        parameters->assign(algorithm->Parameters.pbData,
                           algorithm->Parameters.pbData + algorithm->Parameters.cbData);
    }
    CryptMsgClose(msg);
    return ok;
}
