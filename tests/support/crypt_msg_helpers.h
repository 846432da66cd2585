// Test helpers for the message functions: certificate contexts with keys
// from the test PKI, memory stores, byte buffers, and the openssl tool.
#pragma once

// OpenSSL before <wincrypt.h>, whose X509_NAME constant hides OpenSSL's type.
#include <openssl/cms.h>
#include <openssl/pem.h>

#include <string>
#include <vector>

#include <windows.h>
#include <wincrypt.h>

#include "support/test_pki.h"

using ByteString = std::vector<BYTE>;

ByteString ToBytes(const std::string& text);
std::string ToString(const ByteString& bytes);

// A context for a test-PKI certificate, with its private key when withKey.
PCCERT_CONTEXT LoadCertContext(const TestCert& cert, bool withKey);

// A memory store holding the given contexts (their keys travel along).
HCERTSTORE StoreWith(const std::vector<PCCERT_CONTEXT>& certs);

// Runs a shell command line; true when it exits with 0. Output goes to a log.
bool Shell(const std::string& commandLine);

// Signs with the layer: hash OID, detached or not, the signer also carried.
// Signing parameters as the plug-in fills them: the given hash, no
// authenticated attributes, the one certificate *messageCert carried along.
CRYPT_SIGN_MESSAGE_PARA SignParams(PCCERT_CONTEXT signer, const char* hashOid,
                                   PCCERT_CONTEXT* messageCert);

ByteString LayerSign(PCCERT_CONTEXT signer, const char* hashOid, bool detached,
                     const ByteString& content);
// Signs with the given parameters; empty when the layer refuses.
ByteString SignWith(CRYPT_SIGN_MESSAGE_PARA* para, bool detached, const ByteString& content);
// Encrypts with the layer for the recipients.
ByteString LayerEncrypt(const std::vector<PCCERT_CONTEXT>& recipients, const char* oid,
                        const ByteString& parameters, const ByteString& content);

// Verification parameters that take the signer from the message's certificates.
CRYPT_VERIFY_MESSAGE_PARA VerifyParams();
// Decryption with the keys of one store (*store must outlive the parameters).
CRYPT_DECRYPT_MESSAGE_PARA DecryptParams(HCERTSTORE* store);

// The layer's verification and decryption with the size-query pattern; on
// failure the content is empty and *error holds the last error.
ByteString VerifyOpaque(const ByteString& blob, DWORD* error, PCCERT_CONTEXT* signer = nullptr);
DWORD VerifyDetached(const ByteString& signature, const ByteString& content,
                     PCCERT_CONTEXT* signer = nullptr);
ByteString Decrypt(const ByteString& blob, HCERTSTORE store, DWORD* error,
                   PCCERT_CONTEXT* used = nullptr);
// Decrypts with a memory store holding just that certificate.
ByteString DecryptWith(const ByteString& blob, PCCERT_CONTEXT withKey, DWORD* error);

// Reads one CryptMsgGetParam algorithm identifier: its OID and parameter bytes.
bool MessageAlgorithm(const ByteString& message, DWORD param, std::string* oid,
                      ByteString* parameters);
DWORD MessageType(const ByteString& message);
