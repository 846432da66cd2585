// zhost, the stand-in for the host mail client: its state, the plug-in it
// loads, and the transcript of what the plug-in shows.
#pragma once

#include <stdio.h>

#include <deque>
#include <string>
#include <vector>

#include <windows.h>

#include "common/host_api.h"
#include "host/plugin_interface.h"

// The two windows the host offers: the main window and one composition window.
// Plain values on POSIX; the Windows driver makes them real windows, since
// user32 refuses a dialog owned by a window that does not exist.
extern HWND kMainWindow;
extern HWND kComposeWindow;

struct RegisteredCommand {
    int id;
    std::string description;
    int menuType;
    ZCommandCallback callback;
};

struct HostState {
    std::string folder;                  // ZDA_GetCurrentFolder
    bool hasFolder = true;
    bool hasMessage = false;             // the current message of the main window
    std::string message;
    bool hasComposer = false;            // the composition window's message
    std::string composer;
    std::vector<RegisteredCommand> commands;
    int nextCommandId = 40001;
    std::vector<std::string> notices;    // ZDA_SetText texts, as given
    std::vector<std::string> transcript; // "box: ..." and "notice: ..." lines, UTF-8
    std::deque<bool> answers;            // answers to Yes/No boxes, in order
    bool echo = true;                    // write transcript lines to standard error
    int getSourceCalls = 0;
    int liveTexts = 0;                   // texts handed out and not yet freed
    int badFrees = 0;                    // ZDA_Free of texts the host never gave
};

// The room a message text keeps beyond its length, as an edit control's
// buffer does: the headers and the signature part the plug-in adds then fit
// where the old text was, and a large message is not copied into new memory.
const size_t kTextRoom = 16384;

HostState& Host();
// Back to a fresh host: default folder, no message, no composer, no commands.
void ResetHost();

// Appends a transcript line and, with echo on, writes it to standard error.
void Transcribe(const std::string& line);

// The message-box text as the transcript shows it: UTF-8, line feeds as "\n".
std::string TranscriptText(const char* sjis);
std::string SjisToUtf8(const std::string& sjis);
std::string Utf8ToSjis(const std::string& utf8);

// Answers a message box as the user would, from the queued answers; records it.
int AnswerMessageBox(const char* text, const char* caption, UINT type);

// Installs the headless user-interface driver of this platform.
void InstallUiDriver();

// The loaded plug-in and its events.
class Plugin {
public:
    Plugin() : module(NULL) {}
    ~Plugin();
    bool Load(const std::string& path, std::string* error);
    void Unload();

    int MenuInit(HWND window, HMENU menu, int menuType);
    int OpenMail();
    int PlugInSetup(HWND parent);
    int PlugInInfo(ZPluginInfo* info);
    FARPROC Event(const char* name) const;

    HMODULE module;
};

// Menus as the host builds them: the main window's and a composition window's.
HMENU BuildMainMenu();
HMENU BuildComposeMenu();
void PrintMenu(FILE* out, HMENU menu, int indent);

// Initialises the menu of the given type, then calls the command registered
// with that description. False when the plug-in registered no such command.
bool RunMenuCommand(Plugin& plugin, int menuType, const char* description, HWND window);

// Reads the header block of a message the way the composer does.
std::string ComposerHeader(const std::string& source, const char* name);
void SetComposerHeader(std::string& source, const char* name, const char* value);
