// The reports of the outgoing commands.
#pragma once

#include <initializer_list>

// The pieces joined into one report of any length, in the ordinary message
// box. When no memory can be had for it, the out-of-memory message instead.
void ShowReport(std::initializer_list<const char*> pieces);
