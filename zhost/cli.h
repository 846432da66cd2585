// zhost's command line: the shared options and the commands.
#pragma once

#include <string>
#include <vector>

#include "zhost/zhost.h"

enum { EXIT_RAN = 0, EXIT_USAGE = 2 };

struct CliOptions {
    std::string plugin;
    std::string command;
    std::vector<std::string> args;  // after the command, -o taken out
    std::string output;             // -o OUT, empty when absent
};

// Prints one line on standard error and returns EXIT_USAGE.
int UsageError(const std::string& message);

// The whole file, in a string with `room` bytes reserved beyond it.
bool ReadFileBytes(const std::string& path, std::string* bytes, size_t room = 0);
bool WriteFileBytes(const std::string& path, const std::string& bytes);

// The commands that have files of their own.
int RunSetupCommand(Plugin& plugin, const CliOptions& options);
int RunCertsCommand(const CliOptions& options);
