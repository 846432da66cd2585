// Shared test fixtures: temporary folders, a loaded plug-in with its own
// settings file, and running zhost as a process.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zhost/zhost.h"

// A fresh folder under the system's temporary folder, removed at destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

// UTF-8 test text to the Shift-JIS the module uses (and back).
std::string Sjis(const std::string& utf8);
std::string Utf8(const std::string& sjis);

// The plug-in copied into a folder of its own, with the given settings file
// lines (without the section header) beside it, loaded into this process,
// which is the host. The certificate stores live in the same folder.
class PluginFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the .ini beside the module; call before Load().
    void WriteSettings(const std::vector<std::string>& lines);
    void Load();
    std::string SettingsPath() const;
    std::string StoreRoot() const;

    TempDir dir_;
    std::string modulePath_;
    Plugin plugin_;
};

struct ProcessResult {
    int exitCode;
    std::string out;  // standard output
    std::string err;  // standard error
};

// Runs a program with arguments and extra environment entries ("NAME=value").
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& env = {});
