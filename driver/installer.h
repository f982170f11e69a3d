// The install sequence: start-up, mode and option selection, the checks,
// the download, the package launch and the one clean-up path.
#ifndef VEXO_DRIVER_INSTALLER_H
#define VEXO_DRIVER_INSTALLER_H

#include "driver/platform.h"
#include "driver/sizes.h"

enum OptionSelector {
  kOptionNone = 0,
  kOptionHelp = 1,
  kOptionVerify = 2,
  kOptionAdmin = 3,
};

// Runs the whole installer and returns the run status, the process's exit
// code. The command line is the process's, without the program name; the
// verify option changes it in place.
DWORD RunInstaller(HINSTANCE instance, LPSTR commandLine, const char* modeString, int optionSelector);

// Scans the next token of a command line, by whole characters of the ANSI
// code page. Returns 0 with the token's first and last character and
// whether it was quoted, or ERROR_NO_MORE_ITEMS (259) when there is none;
// on 259 nothing is written.
DWORD NextCommandLineToken(char* text, char** tokenStart, char** tokenLast, bool* quoted);

// Where the rest of a command line starts after its first token (the
// option), past a closing quote; null when there is no token at all.
char* AfterFirstCommandLineToken(char* commandLine);

// 0 when the command line holds exactly one token, else ERROR_BAD_ARGUMENTS.
DWORD ParseAdminOption(char* commandLine);

// Process-wide state set at start-up.
extern HINSTANCE g_instance;
extern char g_caption[kCaptionChars];

#endif
