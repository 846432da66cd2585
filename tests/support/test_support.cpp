#include "support/test_support.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

TempDir::TempDir()
{
    std::string pattern = (fs::temp_directory_path() / "zsmime-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const char* made = mkdtemp(buffer.data());
    path_ = made != nullptr ? made : "";
}

TempDir::~TempDir()
{
    std::error_code ignored;
    if (!path_.empty())
        fs::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

std::string Sjis(const std::string& utf8)
{
    return Utf8ToSjis(utf8);
}

std::string Utf8(const std::string& sjis)
{
    return SjisToUtf8(sjis);
}

void PluginFixture::SetUp()
{
    ResetHost();
    Host().echo = false;
    InstallUiDriver();
    modulePath_ = dir_.File("zsmime.so");
    fs::copy_file(ZSMIME_PLUGIN_PATH, modulePath_);
    setenv("XDG_DATA_HOME", dir_.path().c_str(), 1);
}

void PluginFixture::TearDown()
{
    plugin_.Unload();
}

std::string PluginFixture::SettingsPath() const
{
    return dir_.File("zsmime.ini");
}

std::string PluginFixture::StoreRoot() const
{
    return dir_.File("zsmime/stores");
}

void PluginFixture::WriteSettings(const std::vector<std::string>& lines)
{
    std::string text = "[Settings]\r\n";
    for (const std::string& line : lines)
        text += line + "\r\n";
    WriteFile(SettingsPath(), text);
}

void PluginFixture::Load()
{
    std::string error;
    ASSERT_TRUE(plugin_.Load(modulePath_, &error)) << error;
}

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env)
{
    ProcessResult result{-1, "", ""};
    TempDir scratch;
    std::string outPath = scratch.File("out"), errPath = scratch.File("err");
    pid_t pid = fork();
    if (pid == 0) {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, 1);
        dup2(err, 2);
        int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        for (const std::string& e : env)
            putenv(strdup(e.c_str()));
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = ReadFile(outPath);
    result.err = ReadFile(errPath);
    return result;
}
