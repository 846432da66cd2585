// Placeholders until the incoming side lands; each is replaced by its real file.
#include "incoming/decrypt_verify.h"

void DecryptVerifyCommand() {}
