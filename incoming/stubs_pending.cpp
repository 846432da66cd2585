// Placeholders until the incoming side lands; each is replaced by its real file.
#include "incoming/classify.h"
#include "incoming/decrypt_verify.h"

int ClassifySmimeMessage(const char*) { return SMIME_NONE; }
void DecryptVerifyCommand() {}
