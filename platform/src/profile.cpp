// Initialisation files as GetPrivateProfileStringA / WritePrivateProfileStringA
// treat them: "[section]" headers and "key=value" lines, names compared
// without regard to case, blanks around names and values ignored, a value in
// matching quotes read without them, other lines kept as they are. Of two
// sections with the same name only the first counts; a UTF-8 file with a
// byte-order mark is read and written as UTF-8.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <windows.h>

#include "fault_injection.h"

namespace {

mode_t CurrentUmask()
{
    mode_t mask = umask(0);
    umask(mask);
    return mask;
}

std::string Trim(const std::string& text)
{
    size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos)
        return std::string();
    size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(begin, end - begin + 1);
}

// A file's lines, in the ANSI code page, and whether the file is UTF-8 with a
// byte-order mark (then read and written back as such, as kernel32 does).
struct ProfileText {
    std::vector<std::string> lines;
    bool utf8 = false;
};

const char kUtf8Mark[] = "\xEF\xBB\xBF";

// Converts between code pages through UTF-16, as kernel32 does.
std::string Recode(const std::string& text, UINT from, UINT to)
{
    if (text.empty())
        return text;
    int wideLength = MultiByteToWideChar(from, 0, text.data(), (int)text.size(), nullptr, 0);
    std::vector<WCHAR> wide((size_t)wideLength + 1);
    MultiByteToWideChar(from, 0, text.data(), (int)text.size(), wide.data(), wideLength);
    int length = WideCharToMultiByte(to, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    std::string out((size_t)length, '\0');
    WideCharToMultiByte(to, 0, wide.data(), wideLength, &out[0], length, nullptr, nullptr);
    return out;
}

bool ReadProfile(const char* file, ProfileText& profile)
{
    FILE* f = fopen(file, "rb");
    if (f == nullptr)
        return false;
    std::string content;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        content.append(chunk, n);
    fclose(f);
    if (content.compare(0, 3, kUtf8Mark) == 0) {
        profile.utf8 = true;
        content = Recode(content.substr(3), CP_UTF8, CP_ACP);
    }
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos)
            end = content.size();
        std::string line = content.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        profile.lines.push_back(line);
        start = end + 1;
    }
    return true;
}

bool WriteAll(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += (size_t)n;
    }
    return true;
}

DWORD ErrorOf(int error)
{
    return (error == ENOSPC || error == EDQUOT || error == EFBIG) ? ERROR_DISK_FULL : ERROR_ACCESS_DENIED;
}

// Writes the whole file beside the old one and renames it over it, so that a
// full disk, a quota or a signal leaves either the old or the new file, never
// a part of one.
bool WriteProfile(const char* file, const ProfileText& profile)
{
    std::string content;
    for (const std::string& line : profile.lines)
        content += line + "\r\n";
    if (profile.utf8)
        content = kUtf8Mark + Recode(content, CP_ACP, CP_UTF8);

    std::string temp = std::string(file) + ".XXXXXX";
    int fd = mkstemp(&temp[0]);
    if (fd < 0) {
        SetLastError(ErrorOf(errno));
        return false;
    }
    struct stat old;
    mode_t mode = 0666 & ~CurrentUmask();
    if (stat(file, &old) == 0)
        mode = old.st_mode & 07777;
    bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, content) && fsync(fd) == 0;
    int error = errno;
    if (FailureDue("WritePrivateProfileStringA")) {
        ok = false;
        error = ENOSPC;
    }
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temp.c_str(), file) == 0;
    if (!ok) {
        error = error != 0 ? error : errno;
        unlink(temp.c_str());
        SetLastError(ErrorOf(error));
    }
    return ok;
}

// The section name of a "[name]" line, or false for any other line.
bool SectionName(const std::string& line, std::string& name)
{
    std::string trimmed = Trim(line);
    if (trimmed.size() < 2 || trimmed[0] != '[')
        return false;
    size_t close = trimmed.find(']');
    if (close == std::string::npos)
        return false;
    name = Trim(trimmed.substr(1, close - 1));
    return true;
}

// The key and raw value of a "key=value" line.
bool KeyValue(const std::string& line, std::string& key, std::string& value)
{
    std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == ';')
        return false;
    size_t equals = line.find('=');
    if (equals == std::string::npos)
        return false;
    key = Trim(line.substr(0, equals));
    value = Trim(line.substr(equals + 1));
    return true;
}

bool SameName(const std::string& a, const char* b)
{
    return strcasecmp(a.c_str(), b) == 0;
}

std::string Unquote(const std::string& value)
{
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        return value.substr(1, value.size() - 2);
    return value;
}

DWORD CopyOut(const std::string& text, LPSTR buffer, DWORD size)
{
    if (buffer == nullptr || size == 0)
        return 0;
    DWORD length = (DWORD)text.size();
    if (length > size - 1)
        length = size - 1;
    memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return length;
}

// Section and key names double-zero-terminated, as Windows lists them.
DWORD CopyList(const std::vector<std::string>& names, LPSTR buffer, DWORD size)
{
    if (buffer == nullptr || size < 2) {
        if (buffer != nullptr && size == 1)
            buffer[0] = '\0';
        return 0;
    }
    DWORD used = 0;
    for (const std::string& name : names) {
        if (used + name.size() + 2 > size)
            break;
        memcpy(buffer + used, name.c_str(), name.size() + 1);
        used += (DWORD)name.size() + 1;
    }
    buffer[used] = '\0';
    return used;
}

}  // namespace

extern "C" {

DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue,
                                      LPSTR buffer, DWORD size, LPCSTR file)
{
    ProfileText profile;
    if (file != nullptr)
        ReadProfile(file, profile);
    std::vector<std::string> names;
    bool inSection = false, sectionSeen = false;
    for (const std::string& line : profile.lines) {
        std::string name, k, v;
        if (SectionName(line, name)) {
            // Only the first section of a name is read.
            inSection = section != nullptr && !sectionSeen && SameName(name, section);
            sectionSeen = sectionSeen || inSection;
            if (section == nullptr)
                names.push_back(name);
            continue;
        }
        if (!inSection || !KeyValue(line, k, v))
            continue;
        if (key == nullptr)
            names.push_back(k);
        else if (SameName(k, key))
            return CopyOut(Unquote(v), buffer, size);
    }
    if (section == nullptr || key == nullptr)
        return CopyList(names, buffer, size);
    SetLastError(ERROR_FILE_NOT_FOUND);
    // Windows drops trailing blanks of the default.
    std::string fallback = defaultValue != nullptr ? defaultValue : "";
    size_t end = fallback.find_last_not_of(' ');
    fallback.erase(end == std::string::npos ? 0 : end + 1);
    return CopyOut(fallback, buffer, size);
}

BOOL WINAPI WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file)
{
    if (section == nullptr || file == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ProfileText profile;
    ReadProfile(file, profile);
    std::vector<std::string>& lines = profile.lines;

    // Find the section's header and the end of its lines.
    size_t header = lines.size(), end = lines.size();
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string name;
        if (!SectionName(lines[i], name))
            continue;
        if (header != lines.size()) {
            end = i;
            break;
        }
        if (SameName(name, section))
            header = i;
    }

    if (key == nullptr) {  // delete the whole section
        if (header != lines.size())
            lines.erase(lines.begin() + header, lines.begin() + end);
        return WriteProfile(file, profile) ? TRUE : FALSE;
    }

    if (header == lines.size()) {
        if (value == nullptr)
            return TRUE;
        lines.push_back(std::string("[") + section + "]");
        header = lines.size() - 1;
        end = lines.size();
    }
    size_t found = end;
    for (size_t i = header + 1; i < end; ++i) {
        std::string k, v;
        if (KeyValue(lines[i], k, v) && SameName(k, key)) {
            found = i;
            break;
        }
    }
    std::string entry = std::string(key) + "=" + (value != nullptr ? value : "");
    if (found != end) {
        if (value == nullptr)
            lines.erase(lines.begin() + found);
        else
            lines[found] = entry;
    } else if (value != nullptr) {
        // After the section's last non-blank line.
        size_t at = end;
        while (at > header + 1 && Trim(lines[at - 1]).empty())
            --at;
        lines.insert(lines.begin() + at, entry);
    }
    return WriteProfile(file, profile) ? TRUE : FALSE;
}

}  // extern "C"
