// The decrypt/verify command: removes up to two S/MIME layers from the host's
// current message, writes each result back, and reports what it found.
#include "incoming/decrypt_verify.h"

#include <stdlib.h>
#include <string.h>

#include <windows.h>
#include <wincrypt.h>

#include "common/guards.h"
#include "common/host_api.h"
#include "common/messages.h"
#include "incoming/classify.h"
#include "incoming/cms_info.h"
#include "incoming/decrypt.h"
#include "incoming/layer_message.h"
#include "incoming/smime_body.h"
#include "incoming/verify.h"
#include "incoming/verify_report.h"
#include "mime/base64.h"
#include "mime/mime_part.h"
#include "settings/settings.h"

// A pass counter that starts here is past the limit after one pass.
enum { PASS_LIMIT = 2, DEBUG_PASS_START = 1000 };

// An application/pkcs7-mime body whose headers do not say what it holds.
static char* UnwrapUntyped(const char* source, SmimeResult* result)
{
    DWORD derSize = 0;
    BYTE* der = DecodeSmimeBody(source, result, &derSize);
    if (der == NULL)
        return NULL;
    DWORD type = InspectCmsMessage(der, derSize, NULL);
    free(der);
    if (type == CMSG_ENVELOPED)
        return DecryptSmimeMessage(source, result);
    if (type == CMSG_SIGNED)
        return VerifyOpaqueSignature(source, result);
    return NULL;
}

// The content of the layer on top of source, or null when the pass failed.
static char* UnwrapLayer(int kind, const char* source, SmimeResult* result)
{
    switch (kind) {
    case SMIME_ENVELOPED:
        return DecryptSmimeMessage(source, result);
    case SMIME_SIGNED_DATA:
        return VerifyOpaqueSignature(source, result);
    case SMIME_PKCS7_UNTYPED:
        return UnwrapUntyped(source, result);
    case SMIME_MULTIPART_SIGNED:
        return VerifyDetachedSignature(source, result);
    default:
        return NULL;
    }
}

// The working texts of one run; all of them fixed-size.
struct RunBuffers {
    SmimeResult result;
    char report[REPORT_SIZE];
    char failure[REPORT_SIZE];
};

enum PassOutcome { PASS_FAILED, PASS_DONE };

// One layer of source: unwrap it, write it back, report it. The outer part
// supplies the headers the unwrapped content lacks. *furtherLayer tells
// whether what was written is S/MIME itself.
static PassOutcome RunPass(int kind, HostText* source, RunBuffers* buffers, bool* furtherLayer)
{
    MimePart outer;  // only its headers are used
    const char* position = source->get();
    ParseHeaderBlock(&outer, &position);

    memset(&buffers->result, 0, sizeof buffers->result);
    char* content = UnwrapLayer(kind, source->get(), &buffers->result);
    if (content == NULL) {
        BuildFailureText(buffers->failure, sizeof buffers->failure, &buffers->result,
                         buffers->report);
        ShowMessage(buffers->failure);
        return PASS_FAILED;
    }
    HeapBuffer<char> text(LayerMessageText(&outer, content));
    if (text.get() == NULL) {
        ShowMessage(TEXT_OUT_OF_MEMORY);  // the host's message stays as it was
        return PASS_FAILED;
    }
    g_host.SetSource("TEMP", text.get());  // the host copies it
    *furtherLayer = ClassifySmimeMessage(text.get()) != SMIME_NONE;
    text.Release();
    source->Release();
    AppendLayerReport(buffers->report, sizeof buffers->report, &buffers->result);
    return PASS_DONE;
}

static void RunPasses(RunBuffers* buffers)
{
    unsigned passes = DebugEnabled() ? DEBUG_PASS_START : 0;
    HostText source(g_host.GetSource(NULL));
    if (source.get() == NULL) {
        ShowMessage(TEXT_NO_SOURCE);
        return;
    }
    int kind = ClassifySmimeMessage(source.get());
    for (;;) {
        ++passes;
        bool furtherLayer = false;
        if (RunPass(kind, &source, buffers, &furtherLayer) == PASS_FAILED)
            break;
        // The host now holds what this pass wrote. Its copy, the whole message
        // again, is fetched only when a further layer shows in what was written.
        if (passes < PASS_LIMIT && furtherLayer) {
            source.Reset(g_host.GetSource(NULL));
            kind = source.get() != NULL ? ClassifySmimeMessage(source.get()) : SMIME_NONE;
            if (kind != SMIME_NONE)
                continue;
        }
        ShowMessage(buffers->report);
        break;
    }
}

void DecryptVerifyCommand()
{
    // Some 200 KB: kept off the host's stack.
    HeapBuffer<RunBuffers> buffers((RunBuffers*)calloc(1, sizeof(RunBuffers)));
    if (buffers.get() != NULL)
        RunPasses(buffers.get());
}
