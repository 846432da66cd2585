// The shared half of playing actions on a dialog: parsing and printing.
#include "zhost/dialog_script.h"

#include <stdlib.h>

#include "zhost/zhost.h"

static bool ParseId(const std::string& word, int* id)
{
    char* end = NULL;
    long value = strtol(word.c_str(), &end, 10);
    if (word.empty() || *end != '\0')
        return false;
    *id = (int)value;
    return true;
}

static bool IsPosition(const std::string& word)
{
    return !word.empty() && word.size() < 6 && word.find_first_not_of("0123456789") == std::string::npos;
}

bool ParseDialogActions(const std::vector<std::string>& words, std::vector<DialogAction>* actions,
                        std::string* error)
{
    for (size_t i = 0; i < words.size();) {
        const std::string& verb = words[i];
        DialogAction action;
        size_t operands = 0;
        if (verb == "ok" || verb == "cancel") {
            action.kind = verb == "ok" ? DialogAction::OK : DialogAction::CANCEL;
        } else if (verb == "check" || verb == "uncheck") {
            action.kind = verb == "check" ? DialogAction::CHECK : DialogAction::UNCHECK;
            operands = 1;
        } else if (verb == "select") {
            action.kind = DialogAction::SELECT;
            operands = 2;
        } else {
            *error = "unknown action " + verb;
            return false;
        }
        if (i + operands >= words.size()) {
            *error = verb + " needs " + (operands == 1 ? "a control id" : "a control id and an item");
            return false;
        }
        action.words = verb;
        if (operands >= 1) {
            if (!ParseId(words[i + 1], &action.id)) {
                *error = verb + ": " + words[i + 1] + " is not a control id";
                return false;
            }
            action.words += " " + words[i + 1];
        }
        if (operands == 2) {
            const std::string& item = words[i + 2];
            if (IsPosition(item))
                action.position = atoi(item.c_str());
            else
                action.item = Utf8ToSjis(item);
            action.words += " " + item;
        }
        actions->push_back(action);
        i += 1 + operands;
    }
    return true;
}

void PrintDialogState(FILE* out, const DialogState& state)
{
    fprintf(out, "dialog: %s\n", SjisToUtf8(state.caption).c_str());
    for (const DialogControlState& c : state.controls) {
        fprintf(out, "  %d %s", c.id, c.className.c_str());
        if (c.checkBox)
            fprintf(out, " [%c]", c.checked ? 'x' : ' ');
        if (c.picture) {
            fprintf(out, " (picture)");
        } else if (c.list) {
            if (c.selection >= 0)
                fprintf(out, " selected %d", c.selection);
            else
                fprintf(out, " no selection");
        } else {
            fprintf(out, " \"%s\"", SjisToUtf8(c.text).c_str());
        }
        if (c.id == state.focusId && state.focusId != 0)
            fprintf(out, " (focus)");
        fprintf(out, "\n");
        for (size_t i = 0; i < c.items.size(); ++i)
            fprintf(out, "    %c%zu: %s\n", (int)i == c.selection ? '*' : ' ', i,
                    SjisToUtf8(c.items[i]).c_str());
    }
}

void RunDialogScript(DialogScript& script, HWND dialog)
{
    script.opened = true;
    PrintDialogState(script.out, ReadDialogState(dialog));
    for (const DialogAction& action : script.actions) {
        if (DialogHasEnded(dialog)) {
            fprintf(script.out, "> %s (not played: the dialog has closed)\n", action.words.c_str());
            continue;
        }
        fprintf(script.out, "> %s\n", action.words.c_str());
        std::string error;
        if (!PlayDialogAction(dialog, action, &error)) {
            fprintf(script.out, "  failed: %s\n", error.c_str());
            if (script.error.empty())
                script.error = action.words + ": " + error;
            break;
        }
    }
    PrintDialogState(script.out, ReadDialogState(dialog));
}
