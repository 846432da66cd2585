// Playing a user's actions on a modal dialog from the command line: the
// parsing and printing are shared; reading the controls and playing one
// action are the platform driver's (zhost/posix/, zhost/win32/).
#pragma once

#include <stdio.h>

#include <string>
#include <vector>

#include <windows.h>

struct DialogAction {
    enum Kind { SELECT, CHECK, UNCHECK, OK, CANCEL } kind;
    int id = 0;
    std::string item;   // SELECT: the item's text (Shift-JIS), unless position >= 0
    int position = -1;  // SELECT by position
    std::string words;  // the action as given, UTF-8, for the transcript
};

struct DialogControlState {
    int id = 0;
    std::string className;
    std::string text;  // Shift-JIS; a list's text is its selected item
    bool checkBox = false;
    bool checked = false;
    bool list = false;
    bool picture = false;  // a static showing a bitmap
    std::vector<std::string> items;  // Shift-JIS, in list order
    int selection = -1;
};

struct DialogState {
    std::string caption;  // Shift-JIS
    int focusId = 0;      // 0: no control has the focus
    std::vector<DialogControlState> controls;  // template order
};

// What the driver does with the next modal dialog: print its controls, play
// the actions in order, print them again. Output goes to `out`, UTF-8.
struct DialogScript {
    std::vector<DialogAction> actions;
    FILE* out = stdout;
    bool opened = false;
    std::string error;  // the first action that could not be played
};

// "select ID TEXT-OR-POSITION", "check ID", "uncheck ID", "ok", "cancel".
bool ParseDialogActions(const std::vector<std::string>& words, std::vector<DialogAction>* actions,
                        std::string* error);

void PrintDialogState(FILE* out, const DialogState& state);

// Runs the script on an open dialog (called by the platform driver).
void RunDialogScript(DialogScript& script, HWND dialog);

// Platform driver.
DialogState ReadDialogState(HWND dialog);
bool PlayDialogAction(HWND dialog, const DialogAction& action, std::string* error);
bool DialogHasEnded(HWND dialog);
// Hands the next modal dialog to the script (null: none, the dialog is cancelled).
void DriveNextDialog(DialogScript* script);
// The value DialogBoxParamA returned for the dialog that last ended.
INT_PTR LastDialogResult();
