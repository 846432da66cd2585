#pragma once

// The decrypt/verify command on the host's current message.
void DecryptVerifyCommand();
