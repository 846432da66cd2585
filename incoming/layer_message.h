// The plain message that replaces an S/MIME message for one removed layer.
#pragma once

class MimePart;

// Fills layer from the unwrapped content: its header block parsed, the rest
// kept as flat body text, and Date, Subject, From, To and Cc that it lacks
// carried over from outer.
void BuildLayerMessage(MimePart* outer, MimePart* layer, const char* content);
// The serialised layer message, built in content's own buffer (taken over:
// content is freed or becomes the result). Null when memory runs out.
char* LayerMessageText(MimePart* outer, char* content);
