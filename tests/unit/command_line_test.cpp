#include <gtest/gtest.h>

#include <string>

#include "driver/installer.h"
#include "standin/standin.h"

namespace {

struct TokenCase {
  const char* name;
  std::string text;  // ANSI bytes
  DWORD result;
  std::string token;  // from the first to the last character
  bool quoted;
};

TEST(NextCommandLineToken, Tokens) {
  const TokenCase cases[] = {
      {"plain", "/v", 0, "/v", false},
      {"leading blanks and tabs", " \t /a x", 0, "/a", false},
      {"quoted with blanks", "\"C:\\My Files\\a.exe\" more", 0, "C:\\My Files\\a.exe", true},
      {"unterminated quote", "\"C:\\a b", 0, "C:\\a b", true},
      {"empty", "", ERROR_NO_MORE_ITEMS, "", false},
      {"blanks only", " \t  ", ERROR_NO_MORE_ITEMS, "", false},
      {"lone quote", "\"", ERROR_NO_MORE_ITEMS, "", false},
      {"blanks then lone quote", "   \"", ERROR_NO_MORE_ITEMS, "", false},
      // A double-byte character whose trail byte is a quote or a blank
      // must not end the token.
      {"double-byte trail byte is a quote", "\"\x81\x22x\" y", 0, "\x81\x22x", true},
      {"double-byte trail byte of a path", standin::Ansi("C:\\安装\\a.exe") + " z", 0,
       standin::Ansi("C:\\安装\\a.exe"), false},
      {"single character", "x", 0, "x", false},
  };
  for (const auto& c : cases) {
    std::string text = c.text;
    char* start = reinterpret_cast<char*>(0x1);
    char* last = reinterpret_cast<char*>(0x1);
    bool quoted = false;
    DWORD r = NextCommandLineToken(&text[0], &start, &last, &quoted);
    EXPECT_EQ(c.result, r) << c.name;
    if (r != 0) {
      EXPECT_EQ(reinterpret_cast<char*>(0x1), start) << c.name << ": written on failure";
      continue;
    }
    // The last character may be a double-byte one: take it whole.
    std::string token(start, CharNextA(last) - start);
    EXPECT_EQ(c.token, token) << c.name;
    EXPECT_EQ(c.quoted, quoted) << c.name;
  }
}

TEST(NextCommandLineToken, NullText) {
  char* start = nullptr;
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, NextCommandLineToken(nullptr, &start, nullptr, nullptr));
}

TEST(ParseAdminOption, Arguments) {
  struct Case {
    const char* name;
    const char* text;
    DWORD result;
  } cases[] = {
      {"option alone", "/a", 0},
      {"option with trailing blanks", "/a   ", 0},
      {"quoted option", "\"/a\"", 0},
      {"quoted option, trailing blank", "\"/a\" ", 0},
      {"option and a path", "/a C:\\x", ERROR_BAD_ARGUMENTS},
      {"quoted option and a path", "\"/a\" C:\\x", ERROR_BAD_ARGUMENTS},
      {"empty command line", "", ERROR_BAD_ARGUMENTS},
      {"option and a lone quote", "/a \"", 0},
  };
  for (const auto& c : cases) {
    std::string text = c.text;
    EXPECT_EQ(c.result, ParseAdminOption(&text[0])) << c.name;
  }
}

}  // namespace
