// zhost setup [ACTION...]: opens the setup dialog as the host's plug-in setup
// event does, prints its controls, plays the actions, prints them again and
// the dialog's result (1 OK, 2 cancel). Without ok or cancel the dialog is
// cancelled once the actions are played.
#include "zhost/cli.h"
#include "zhost/dialog_script.h"

int RunSetupCommand(Plugin& plugin, const CliOptions& options)
{
    DialogScript script;
    std::string error;
    if (!ParseDialogActions(options.args, &script.actions, &error))
        return UsageError(error);
    DriveNextDialog(&script);
    plugin.PlugInSetup(kMainWindow);
    DriveNextDialog(NULL);
    if (!script.opened)
        return UsageError("the plug-in opened no dialog");
    printf("result: %d\n", (int)LastDialogResult());
    if (!script.error.empty())
        return UsageError(script.error);
    return EXIT_RAN;
}
