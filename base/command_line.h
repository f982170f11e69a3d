// Walking a command line token by token, by whole characters of the ANSI
// code page, as the admin and verify options read theirs.
#ifndef VEXO_BASE_COMMAND_LINE_H
#define VEXO_BASE_COMMAND_LINE_H

#include "base/platform.h"

// Scans the next token of a command line. Returns 0 with the token's first
// and last character and whether it was quoted (each out value optional),
// or ERROR_NO_MORE_ITEMS (259) when there is none; on 259 nothing is
// written. A quoted token runs to the closing quote, an unquoted one to the
// next blank or tab.
DWORD NextCommandLineToken(char* text, char** tokenStart, char** tokenLast, bool* quoted);

// Where the rest of a command line starts after its first token (the
// option), past a closing quote; null when there is no token at all.
char* AfterFirstCommandLineToken(char* commandLine);

#endif
