// zhost setup: arrives with the setup dialog.
#include "zhost/cli.h"

int RunSetupCommand(Plugin&, const CliOptions&)
{
    return UsageError("setup is not available in this build");
}
