// What the plug-in shows, written as UTF-8 lines on standard error.
#include <string.h>

#include "zhost/zhost.h"

namespace {

std::string ConvertVia(UINT from, UINT to, const std::string& text)
{
    if (text.empty())
        return text;
    int units = MultiByteToWideChar(from, 0, text.data(), (int)text.size(), NULL, 0);
    if (units <= 0)
        return text;
    std::vector<WCHAR> wide(units);
    MultiByteToWideChar(from, 0, text.data(), (int)text.size(), wide.data(), units);
    int bytes = WideCharToMultiByte(to, 0, wide.data(), units, NULL, 0, NULL, NULL);
    if (bytes <= 0)
        return text;
    std::string out(bytes, '\0');
    WideCharToMultiByte(to, 0, wide.data(), units, &out[0], bytes, NULL, NULL);
    return out;
}

}  // namespace

std::string SjisToUtf8(const std::string& sjis)
{
    return ConvertVia(932, CP_UTF8, sjis);
}

std::string Utf8ToSjis(const std::string& utf8)
{
    return ConvertVia(CP_UTF8, 932, utf8);
}

std::string TranscriptText(const char* sjis)
{
    std::string utf8 = SjisToUtf8(sjis != NULL ? sjis : "");
    std::string out;
    for (char c : utf8) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

void Transcribe(const std::string& line)
{
    Host().transcript.push_back(line);
    if (Host().echo) {
        fprintf(stderr, "%s\n", line.c_str());
        fflush(stderr);
    }
}

int AnswerMessageBox(const char* text, const char* caption, UINT type)
{
    std::string line = "box: [" + TranscriptText(caption) + "] " + TranscriptText(text);
    int answer = IDOK;
    if ((type & MB_TYPEMASK) == MB_YESNO) {
        bool yes = false;
        if (!Host().answers.empty()) {
            yes = Host().answers.front();
            Host().answers.pop_front();
        }
        answer = yes ? IDYES : IDNO;
        line += yes ? " -> yes" : " -> no";
    }
    Transcribe(line);
    return answer;
}
