#include "outgoing/report.h"

#include "common/messages.h"

void ShowReport(const std::string& text)
{
    ShowMessage(text.c_str());
}
