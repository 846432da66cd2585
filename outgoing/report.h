// The reports of the outgoing commands.
#pragma once

#include <string>

// A report of any length in the ordinary message box.
void ShowReport(const std::string& text);
