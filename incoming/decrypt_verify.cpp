// The decrypt/verify command: removes up to two S/MIME layers from the host's
// current message, writes each result back, and reports what it found.
#include "incoming/decrypt_verify.h"

#include <stdlib.h>
#include <string.h>

#include <windows.h>
#include <wincrypt.h>

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
// supplies the headers the unwrapped content lacks.
static PassOutcome RunPass(int kind, char** source, RunBuffers* buffers)
{
    MimePart outer;  // only its headers are used
    const char* position = *source;
    ParseHeaderBlock(&outer, &position);

    memset(&buffers->result, 0, sizeof buffers->result);
    char* content = UnwrapLayer(kind, *source, &buffers->result);
    if (content == NULL) {
        BuildFailureText(buffers->failure, sizeof buffers->failure, &buffers->result,
                         buffers->report);
        ShowMessage(buffers->failure);
        return PASS_FAILED;
    }
    char* text = LayerMessageText(&outer, content);
    if (text != NULL) {
        g_host.SetSource("TEMP", text);  // the host copies it
        free(text);
    }
    g_host.Free(*source);
    *source = NULL;
    AppendLayerReport(buffers->report, sizeof buffers->report, &buffers->result);
    return PASS_DONE;
}

static void RunPasses(RunBuffers* buffers)
{
    unsigned passes = DebugEnabled() ? DEBUG_PASS_START : 0;
    char* source = g_host.GetSource(NULL);
    if (source == NULL) {
        ShowMessage(TEXT_NO_SOURCE);
        return;
    }
    int kind = ClassifySmimeMessage(source);
    for (;;) {
        ++passes;
        if (RunPass(kind, &source, buffers) == PASS_FAILED)
            break;
        // The host now holds what this pass wrote; a further layer may show.
        if (passes < PASS_LIMIT) {
            source = g_host.GetSource(NULL);
            kind = source != NULL ? ClassifySmimeMessage(source) : SMIME_NONE;
            if (kind != SMIME_NONE)
                continue;
        }
        ShowMessage(buffers->report);
        break;
    }
    if (source != NULL)
        g_host.Free(source);
}

void DecryptVerifyCommand()
{
    // Some 200 KB: kept off the host's stack.
    RunBuffers* buffers = (RunBuffers*)calloc(1, sizeof(RunBuffers));
    if (buffers == NULL)
        return;
    RunPasses(buffers);
    free(buffers);
}
