#include "base/command_line.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

DWORD NextCommandLineToken(char* text, char** tokenStart, char** tokenLast, bool* quoted) {
  if (!text) return ERROR_NO_MORE_ITEMS;
  char* p = text;
  while (IsBlank(*p)) p = CharNextA(p);
  if (*p == '\0') return ERROR_NO_MORE_ITEMS;

  bool isQuoted = false;
  if (*p == '"') {
    isQuoted = true;
    p = CharNextA(p);
    // A quote with nothing after it opens no token.
    if (*p == '\0') return ERROR_NO_MORE_ITEMS;
  }
  char* start = p;
  char* stop = p;
  do {
    stop = CharNextA(stop);
  } while (*stop != '\0' && (isQuoted ? *stop != '"' : !IsBlank(*stop)));

  if (tokenStart) *tokenStart = start;
  if (tokenLast) *tokenLast = CharPrevA(start, stop);
  if (quoted) *quoted = isQuoted;
  return 0;
}

char* AfterFirstCommandLineToken(char* commandLine) {
  char* start = nullptr;
  char* last = nullptr;
  bool quoted = false;
  if (NextCommandLineToken(commandLine, &start, &last, &quoted) != 0) return nullptr;
  char* next = CharNextA(last);
  // A quoted option ends with its closing quote, which does not open the
  // next token.
  if (quoted && *next == '"') next = CharNextA(next);
  return next;
}
