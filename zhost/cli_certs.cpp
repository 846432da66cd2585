// zhost certs: arrives with the certificate stores.
#include "zhost/cli.h"

int RunCertsCommand(const CliOptions&)
{
    return UsageError("certs is not available in this build");
}
