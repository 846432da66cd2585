#pragma once

class MimePart;

// The decrypt/verify command on the host's current message.
void DecryptVerifyCommand();
void BuildLayerMessage(MimePart* outer, MimePart* layer, const char* content);
