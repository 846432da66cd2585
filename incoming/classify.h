// Whether a received message is S/MIME, and of which kind.
#pragma once

enum SmimeKind {
    SMIME_NONE = 0,
    SMIME_ENVELOPED = 1,
    SMIME_SIGNED_DATA = 2,
    SMIME_PKCS7_UNTYPED = 3,
    SMIME_MULTIPART_SIGNED = 4,
};

int ClassifySmimeMessage(const char* source);
