// Throughput of parsing and serialising, Base64 both ways and classification,
// on a generated 20 MB message; and the peak memory of parse + serialise.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "incoming/classify.h"
#include "mime/base64.h"
#include "mime/mime_part.h"

namespace {

const size_t kAttachmentText = 15u << 20;  // Base64 characters of the attachment
const size_t kMessageSize = 20u << 20;

std::vector<BYTE> RandomBytes(size_t count)
{
    std::vector<BYTE> bytes(count);
    unsigned state = 12345;
    for (BYTE& b : bytes) {
        state = state * 1103515245u + 12345u;
        b = (BYTE)(state >> 16);
    }
    return bytes;
}

// Headers, a text part and a Base64 attachment, in that order; about 20 MB.
std::string MakeMessage(const char* contentType)
{
    std::string message;
    message.reserve(kMessageSize + (1u << 20));
    message += "Return-Path: <alice@example.com>\r\n"
               "Received: from mail.example.com (mail.example.com [192.0.2.1])\r\n"
               "\tby mx.example.jp with ESMTP id 1234567890; Tue, 8 Dec 2026 03:25:00 +0900\r\n"
               "From: Alice <alice@example.com>\r\nTo: Bob <bob@example.jp>\r\n"
               "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\r\nMIME-Version: 1.0\r\n";
    message += std::string("Content-Type: ") + contentType + "\r\n\r\n";
    message += "This is a multi-part message in MIME format.\r\n"
               "--=_bench\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n"
               "Content-Transfer-Encoding: 7bit\r\n\r\n";
    const std::string line = "The quick brown fox jumps over the lazy dog; 0123456789 and so on.\r\n";
    size_t textSize = kMessageSize - kAttachmentText - 4096;
    while (message.size() < textSize)
        message += line;
    message += "--=_bench\r\nContent-Type: application/octet-stream; name=data.bin\r\n"
               "Content-Transfer-Encoding: base64\r\n"
               "Content-Disposition: attachment; filename=data.bin\r\n\r\n";
    std::vector<BYTE> bytes = RandomBytes(kAttachmentText / 62 * 45);
    DWORD length = 0;
    char* encoded = Base64Encode(bytes.data(), (DWORD)bytes.size(), &length);
    message.append(encoded, length);
    free(encoded);
    message += "\r\n--=_bench--\r\n";
    return message;
}

const std::string& Message()
{
    static const std::string message = MakeMessage("multipart/mixed; boundary=\"=_bench\"");
    return message;
}

void BM_ParseSerialize(benchmark::State& state)
{
    const std::string& message = Message();
    bool checked = false;
    for (auto _ : state) {
        MimePart part;
        const char* position = message.c_str();
        part.Parse(&position, NULL);
        char* text = part.Serialize();
        benchmark::DoNotOptimize(text);
        if (!checked && (text == NULL || message != text))
            state.SkipWithError("the round trip changed the text");
        checked = true;
        free(text);
    }
    state.SetBytesProcessed(state.iterations() * (int64_t)message.size());
}
BENCHMARK(BM_ParseSerialize)->Unit(benchmark::kMillisecond);

void BM_Base64Encode(benchmark::State& state)
{
    std::vector<BYTE> bytes = RandomBytes(kAttachmentText);
    for (auto _ : state) {
        DWORD length = 0;
        char* text = Base64Encode(bytes.data(), (DWORD)bytes.size(), &length);
        benchmark::DoNotOptimize(text);
        free(text);
    }
    state.SetBytesProcessed(state.iterations() * (int64_t)bytes.size());
}
BENCHMARK(BM_Base64Encode)->Unit(benchmark::kMillisecond);

void BM_Base64Decode(benchmark::State& state)
{
    std::vector<BYTE> bytes = RandomBytes(kAttachmentText / 62 * 45);
    DWORD length = 0;
    char* text = Base64Encode(bytes.data(), (DWORD)bytes.size(), &length);
    for (auto _ : state) {
        DWORD count = 0;
        BYTE* decoded = Base64Decode(text, &count);
        benchmark::DoNotOptimize(decoded);
        if (count != bytes.size())
            state.SkipWithError("decoded size differs");
        free(decoded);
    }
    state.SetBytesProcessed(state.iterations() * (int64_t)length);
    free(text);
}
BENCHMARK(BM_Base64Decode)->Unit(benchmark::kMillisecond);

void BM_Classify(benchmark::State& state)
{
    static const std::string enveloped = MakeMessage(
        "application/pkcs7-mime; smime-type=enveloped-data; name=smime.p7m\r\n"
        "Content-Transfer-Encoding: base64");
    const std::string& message = state.range(0) == 0 ? Message() : enveloped;
    int kind = -1;
    for (auto _ : state) {
        kind = ClassifySmimeMessage(message.c_str());
        benchmark::DoNotOptimize(kind);
    }
    if (kind != (state.range(0) == 0 ? SMIME_NONE : SMIME_ENVELOPED))
        state.SkipWithError("wrong kind");
    state.SetBytesProcessed(state.iterations() * (int64_t)message.size());
}
BENCHMARK(BM_Classify)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

long StatusKiB(const char* field)
{
    FILE* f = fopen("/proc/self/status", "r");
    if (f == NULL)
        return -1;
    char line[256];
    long value = -1;
    size_t n = strlen(field);
    while (fgets(line, sizeof line, f) != NULL)
        if (strncmp(line, field, n) == 0)
            value = atol(line + n);
    fclose(f);
    return value;
}

// In a child process: the peak resident memory that parse + serialise adds
// on top of the message itself.
void ReportPeakMemory()
{
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        const std::string& message = Message();
        int fd = open("/proc/self/clear_refs", O_WRONLY);
        bool reset = fd >= 0 && write(fd, "5", 1) == 1;  // resets the peak (VmHWM)
        if (fd >= 0)
            close(fd);
        long before = StatusKiB("VmRSS:");
        {
            MimePart part;
            const char* position = message.c_str();
            part.Parse(&position, NULL);
            char* text = part.Serialize();
            benchmark::DoNotOptimize(text);
            free(text);
        }
        long peak = StatusKiB("VmHWM:");
        double mib = message.size() / 1048576.0;
        printf("parse+serialise peak memory: message %.1f MiB, resident before %.1f MiB, peak %.1f MiB%s\n"
               "  added by parse+serialise %.1f MiB = %.2fx the message; peak including the message %.2fx\n",
               mib, before / 1024.0, peak / 1024.0, reset ? "" : " (peak not reset: upper bound)",
               (peak - before) / 1024.0, (peak - before) / 1024.0 / mib, (peak - before) / 1024.0 / mib + 1);
        fflush(stdout);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    printf("message: %zu bytes\n", Message().size());
    ReportPeakMemory();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
