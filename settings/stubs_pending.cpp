// Placeholder until the setup dialog lands.
#include "settings/setup_dialog.h"

INT_PTR OpenSetupDialog(HWND) { return IDCANCEL; }
