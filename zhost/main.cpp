// zhost [--plugin PATH] [--answer yes|no]... [--folder PATH] COMMAND ...
#include <stdio.h>
#include <string.h>

#include "zhost/cli.h"

static const char kUsage[] =
    "usage: zhost [--plugin PATH] [--answer yes|no]... [--folder PATH] COMMAND ...\n"
    "  info                                      the plug-in information record\n"
    "  menu                                      the menus after menu initialisation\n"
    "  open FILE [-o OUT]                        open FILE as the current message\n"
    "  verify FILE [-o OUT]                      run S/MIME decrypt/verify on FILE\n"
    "  encrypt|sign|sign-encrypt FILE [-o OUT]   run that command on FILE in a composer\n"
    "  setup [ACTION...]                         open the setup dialog and play ACTIONs\n"
    "  certs list [STORE] | import STORE FILE [--password P] | remove STORE SUBJECT\n";

static std::string DefaultPluginPath()
{
    char self[MAX_PATH] = "";
    GetModuleFileNameA(NULL, self, sizeof self);
    std::string dir(self);
    size_t slash = dir.find_last_of("/\\");
    dir = slash == std::string::npos ? std::string(".") : dir.substr(0, slash);
#ifdef _WIN32
    return dir + "\\zsmime.dll";
#else
    return dir + "/libzsmime.so";
#endif
}

static int ShowInfo(Plugin& plugin)
{
    ZPluginInfo info;
    memset(&info, 0, sizeof info);
    plugin.PlugInInfo(&info);
    printf("name: %s\n", SjisToUtf8(info.name).c_str());
    printf("vendor: %s\n", SjisToUtf8(info.vendor).c_str());
    printf("version: %s\n", SjisToUtf8(info.version).c_str());
    printf("description: %s\n", SjisToUtf8(info.description).c_str());
    return EXIT_RAN;
}

static int ShowMenus(Plugin& plugin)
{
    const int types[] = {MENU_TYPE_MAIN, MENU_TYPE_COMPOSE};
    for (int type : types) {
        HMENU menu = type == MENU_TYPE_MAIN ? BuildMainMenu() : BuildComposeMenu();
        plugin.MenuInit(type == MENU_TYPE_MAIN ? kMainWindow : kComposeWindow, menu, type);
        printf("menu type %d:\n", type);
        PrintMenu(stdout, menu, 2);
        DestroyMenu(menu);
    }
    printf("commands:\n");
    for (const RegisteredCommand& c : Host().commands)
        printf("  %d type %d: %s\n", c.id, c.menuType, SjisToUtf8(c.description).c_str());
    return EXIT_RAN;
}

// open, verify, encrypt, sign, sign-encrypt: FILE in, the resulting text out.
static int RunOnMessage(Plugin& plugin, const CliOptions& options)
{
    if (options.args.size() != 1)
        return UsageError(options.command + " takes one FILE");
    std::string text;
    if (!ReadFileBytes(options.args[0], &text, kTextRoom))
        return UsageError("cannot read " + options.args[0]);

    const std::string& command = options.command;
    bool compose = command == "encrypt" || command == "sign" || command == "sign-encrypt";
    if (compose) {
        Host().hasComposer = true;
        Host().composer = std::move(text);
        const char* description = command == "encrypt" ? "メッセージをS/MIMEで暗号化"
                                  : command == "sign"  ? "メッセージにS/MIMEで電子署名"
                                                       : "メッセージにS/MIMEで暗号化+電子署名";
        if (!RunMenuCommand(plugin, MENU_TYPE_COMPOSE, description, kComposeWindow))
            return UsageError("the plug-in registered no " + command + " command");
    } else {
        Host().hasMessage = true;
        Host().message = std::move(text);
        if (command == "open")
            plugin.OpenMail();
        else if (!RunMenuCommand(plugin, MENU_TYPE_MAIN, "S/MIMEメッセージの復号と検証", kMainWindow))
            return UsageError("the plug-in registered no decrypt/verify command");
    }
    if (!options.output.empty()) {
        const std::string& result = compose ? Host().composer : Host().message;
        if (!WriteFileBytes(options.output, result))
            return UsageError("cannot write " + options.output);
    }
    return EXIT_RAN;
}

int main(int argc, char** argv)
{
    CliOptions options;
    int i = 1;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] == '-'; ++i) {
        std::string option = argv[i];
        if (i + 1 >= argc)
            return UsageError(option + " needs a value");
        std::string value = argv[++i];
        if (option == "--plugin") {
            options.plugin = value;
        } else if (option == "--answer") {
            if (value != "yes" && value != "no")
                return UsageError("--answer takes yes or no");
            Host().answers.push_back(value == "yes");
        } else if (option == "--folder") {
            Host().folder = Utf8ToSjis(value);
        } else {
            return UsageError("unknown option " + option);
        }
    }
    if (i >= argc) {
        fputs(kUsage, stderr);
        return EXIT_USAGE;
    }
    options.command = argv[i++];
    for (; i < argc; ++i) {
        if (strcmp(argv[i], "-o") == 0 && options.command != "certs" && options.command != "setup") {
            if (i + 1 >= argc)
                return UsageError("-o needs a file name");
            options.output = argv[++i];
        } else {
            options.args.push_back(argv[i]);
        }
    }

    static const char* const kCommands[] = {"info", "menu", "open", "verify", "encrypt",
                                            "sign", "sign-encrypt", "setup", "certs"};
    bool known = false;
    for (const char* c : kCommands)
        known = known || options.command == c;
    if (!known) {
        fputs(kUsage, stderr);
        return UsageError("unknown command " + options.command);
    }
    if (options.command == "certs")
        return RunCertsCommand(options);

    InstallUiDriver();
    if (options.plugin.empty())
        options.plugin = DefaultPluginPath();
    Plugin plugin;
    std::string error;
    if (!plugin.Load(options.plugin, &error))
        return UsageError(error);

    if (options.command == "info")
        return ShowInfo(plugin);
    if (options.command == "menu")
        return ShowMenus(plugin);
    if (options.command == "setup")
        return RunSetupCommand(plugin, options);
    return RunOnMessage(plugin, options);
}
