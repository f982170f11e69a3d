// The installer's small routines as tables, run under Wine with the ANSI
// code page 936 (LC_ALL=zh_CN.UTF-8) against the real CharNextA and
// CharPrevA. A failing row prints its table and name; the last line counts
// the rows. Double-byte texts are written as bytes: D6 D0 is 中, CE C4 is
// 文, 81 5C is 乗 (trail byte '\\'); 0x81 followed by '"', ' ', '\t' or '/'
// is a lead byte that takes the next byte with it.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "base/bounded_string.h"
#include "base/command_line.h"
#include "base/heap.h"
#include "download/bind_status_callback.h"
#include "download/download_session.h"
#include "driver/installer.h"
#include "driver/resource_config.h"
#include "stats/os_name.h"
#include "ui/progress_window.h"
#include "ui/text_field.h"

namespace {

int g_passed = 0;
int g_failed = 0;

// A text as a failure line shows it: bytes outside printable ASCII as \xNN,
// cut after about 60 characters.
const char* Shown(const char* text) {
  static char slots[4][80];
  static int next = 0;
  char* out = slots[next++ % 4];
  int n = 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text ? text : "(null)");
  for (; *p && n < 60; ++p) n += sprintf(out + n, *p >= 0x20 && *p < 0x7F ? "%c" : "\\x%02X", *p);
  strcpy(out + n, *p ? "..." : "");
  return out;
}

// Counts a row; a failing one is printed with what was seen.
void Row(bool ok, const char* table, const char* row, const char* seen, ...) {
  ++(ok ? g_passed : g_failed);
  if (ok) return;
  printf("FAIL %s / %s: ", table, row);
  va_list args;
  va_start(args, seen);
  vprintf(seen, args);
  va_end(args);
  printf("\n");
}

// The scanner takes char*: a writable copy of the row's text (null stays null).
struct Text {
  char bytes[64];
  char* p;
  explicit Text(const char* text) : p(text ? strcpy(bytes, text) : nullptr) {}
};

// Offsets of the token's first and last character in the text.
struct TokenRow { const char* name; const char* text; DWORD status; int start, last; bool quoted; };
const TokenRow kTokens[] = {
    {"null text", nullptr, 259, 0, 0, false},
    {"blanks and tabs only", " \t ", 259, 0, 0, false},
    {"one word", "abc", 0, 0, 2, false},
    {"blanks and a tab before", "  \tabc def", 0, 3, 5, false},
    {"a tab ends a word", "ab\tc", 0, 0, 1, false},
    {"quoted, with a blank", "\"a b\" c", 0, 1, 3, true},
    {"quote never closed", "\"abc", 0, 1, 3, true},
    {"double-byte word: last is a lead byte", "\xD6\xD0\xCE\xC4 x", 0, 0, 2, false},
    {"trail bytes 0x5C", "\x81\x5C\x81\x5C", 0, 0, 2, false},
    {"lead byte + quote inside quotes", "\"a\x81\" b\"", 0, 1, 5, true},
    {"lead byte + blank inside a word", "a\x81 b c", 0, 0, 3, false},
    {"lead byte + tab inside a word", "a\x81\tb", 0, 0, 3, false},
};

void TokenTable() {
  for (const TokenRow& r : kTokens) {
    Text text(r.text);
    char untouched = 0;
    char* start = &untouched;
    char* last = &untouched;
    bool quoted = !r.quoted;
    const DWORD status = NextCommandLineToken(text.p, &start, &last, &quoted);
    const int s = start == &untouched ? -1 : static_cast<int>(start - text.p);
    const int l = last == &untouched ? -1 : static_cast<int>(last - text.p);
    // On 259 nothing is written.
    const bool ok = r.status ? status == r.status && s == -1 && l == -1
                             : status == 0 && s == r.start && l == r.last && quoted == r.quoted;
    Row(ok, "token", r.name, "status %lu, start %d, last %d, quoted %d", status, s, l, quoted);
  }
}

// Where the rest starts after the first token (-1: no token), and
// ParseAdminOption's answer.
struct RestRow { const char* name; const char* text; int rest; DWORD admin; };
const RestRow kRests[] = {
    {"null", nullptr, -1, 160},
    {"empty", "", -1, 160},
    {"blanks only", "  \t", -1, 160},
    {"option alone", "/a", 2, 0},
    {"option and trailing blanks", "/a \t ", 2, 0},
    {"option and a path", "/a b", 2, 160},
    {"quoted option", "\"/a\"", 4, 0},
    {"quoted option and a path", "\"/a\" b", 4, 160},
    {"quoted option glued to a word", "\"/a\"b", 4, 160},
    {"one quoted token with a blank", "\"/a b\"", 6, 0},
    {"quote never closed", "\"/a b", 5, 0},
    {"lead byte + quote inside quotes", "\"/a\x81\" b\"", 8, 0},
    {"lead byte + blank inside the option", "/a\x81 b", 5, 0},
    {"double-byte second token", "/a \xD6\xD0", 2, 160},
    {"second token with trail byte 0x5C", "/a\t\x81\x5C", 2, 160},
};

void RestTable() {
  for (const RestRow& r : kRests) {
    Text text(r.text);
    char* rest = AfterFirstCommandLineToken(text.p);
    const int offset = rest ? static_cast<int>(rest - text.p) : -1;
    Row(offset == r.rest, "rest after the option", r.name, "offset %d", offset);
    const DWORD admin = ParseAdminOption(Text(r.text).p);
    Row(admin == r.admin, "admin option", r.name, "%lu", admin);
  }
}

// kFormat's source is the format, given the argument "xy"; after null: the
// buffer is untouched.
enum BoundedOp { kCopy, kAppend, kFormat };
const HRESULT kCut = STRSAFE_E_INSUFFICIENT_BUFFER;
struct BoundedRow { const char* name; BoundedOp op; const char* before; size_t size; const char* source; HRESULT result; const char* after; };
const BoundedRow kBounded[] = {
    {"copy fills size-1", kCopy, "", 4, "abc", S_OK, "abc"},
    {"copy one too long", kCopy, "", 3, "abc", kCut, "ab"},
    {"copy into size 1", kCopy, "zz", 1, "abc", kCut, ""},
    {"copy size 0", kCopy, "zz", 0, "abc", E_INVALIDARG, nullptr},
    {"copy size 0x80000000", kCopy, "zz", 0x80000000u, "abc", E_INVALIDARG, nullptr},
    {"append fills size-1", kAppend, "abc", 6, "de", S_OK, "abcde"},
    {"append one too long", kAppend, "abc", 5, "de", kCut, "abcd"},
    {"append to a full buffer", kAppend, "abc", 4, "d", kCut, "abc"},
    {"append nothing to a full buffer", kAppend, "abc", 4, "", S_OK, "abc"},
    {"append to an empty buffer", kAppend, "", 3, "de", S_OK, "de"},
    {"append target without terminator", kAppend, "abcd", 4, "e", E_INVALIDARG, nullptr},
    {"append size 0", kAppend, "ab", 0, "c", E_INVALIDARG, nullptr},
    {"append size 0xFFFFFFFF", kAppend, "ab", 0xFFFFFFFFu, "c", E_INVALIDARG, nullptr},
    {"format fills size-1", kFormat, "", 5, "<%s>", S_OK, "<xy>"},
    {"format one too long", kFormat, "", 4, "<%s>", kCut, "<xy"},
    {"format into size 1", kFormat, "zz", 1, "<%s>", kCut, ""},
    {"format size 0", kFormat, "zz", 0, "<%s>", E_INVALIDARG, nullptr},
    {"format size 0x80000000", kFormat, "zz", 0x80000000u, "<%s>", E_INVALIDARG, nullptr},
};

void BoundedTable() {
  for (const BoundedRow& r : kBounded) {
    char buffer[16], initial[16];
    memset(buffer, '#', sizeof buffer);
    strcpy(buffer, r.before);
    memcpy(initial, buffer, sizeof buffer);
    const HRESULT result = r.op == kCopy     ? BoundedCopy(buffer, r.size, r.source)
                           : r.op == kAppend ? BoundedAppend(buffer, r.size, r.source)
                                             : BoundedFormat(buffer, r.size, r.source, "xy");
    // Nothing past the size is written, nothing at all by an invalid call.
    const size_t kept = !r.after ? 0 : r.size < sizeof buffer ? r.size : sizeof buffer;
    const bool terminated = memchr(buffer, 0, sizeof buffer) != nullptr;
    const bool ok = result == r.result && memcmp(buffer + kept, initial + kept, sizeof buffer - kept) == 0 &&
                    (!r.after || (terminated && strcmp(buffer, r.after) == 0));
    Row(ok, "bounded", r.name, "result 0x%08lX, buffer \"%s\"", static_cast<unsigned long>(result),
        terminated ? Shown(buffer) : "(no terminator)");
  }
}

// One read into a buffer of readSize (sizeAfter 0: not looked at), then a
// load into a buffer of its own; the value is piece repeated count times.
struct PropertyRow { const char* name; const char* property; DWORD readSize, readStatus, sizeAfter, loadStatus; const char* piece; int count; };
const PropertyRow kProperties[] = {
    {"300 ANSI characters", "LONG300", 256, 234, 301, 0, "a", 300},
    {"300 ANSI characters into 301", "LONG300", 301, 0, 301, 0, "a", 300},
    {"exactly 255 characters", "EXACT255", 256, 0, 256, 0, "a", 255},
    {"255 characters into 255", "EXACT255", 255, 234, 256, 0, "a", 255},
    {"128 Chinese characters (257 bytes)", "CHINESE128", 256, 234, 257, 0, "\xD6\xD0", 128},
    {"128 Chinese characters into 257", "CHINESE128", 257, 0, 257, 0, "\xD6\xD0", 128},
    {"empty resource", "EMPTY", 1, 0, 1, 0, "", 0},
    {"empty resource into size 0", "EMPTY", 0, 234, 1, 0, "", 0},
    {"missing", "NOSUCH", 256, 1814, 0, 1814, "", 0},
};

void PropertyTable() {
  static char expected[600], buffer[600];
  for (const PropertyRow& r : kProperties) {
    expected[0] = '\0';
    for (int i = 0; i < r.count; ++i) strcat(expected, r.piece);
    memset(buffer, '#', sizeof buffer);
    DWORD size = r.readSize;
    const DWORD read = ReadResourceProperty(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(40), r.property, buffer, &size);
    bool ok = read == r.readStatus && (!r.sizeAfter || size == r.sizeAfter) && buffer[r.readSize] == '#' &&
              (read != 0 || strcmp(buffer, expected) == 0);
    Row(ok, "property read", r.name, "status %lu, size %lu, \"%s\"", read, size, read ? "" : Shown(buffer));

    // The buffer is the caller's after every status but 14.
    char* value = nullptr;
    const DWORD load = LoadResourceProperty(GetModuleHandleA(nullptr), r.property, &value, 0);
    ok = load == r.loadStatus && value && (load != 0 || strcmp(value, expected) == 0);
    Row(ok, "property load", r.name, "status %lu, \"%s\"", load, load || !value ? "" : Shown(value));
    FreeBuffer(value);
  }
}

struct UrlRow { const char* name; const char* base; const char* tail; const char* url; };
const UrlRow kUrls[] = {
    {"base without a slash", "http://h/ext", "f.exe", "http://h/ext/f.exe"},
    {"base ending in a slash", "http://h/ext/", "f.exe", "http://h/ext/f.exe"},
    {"empty tail", "http://h", "", "http://h/"},
    {"empty base", "", "f.exe", "/f.exe"},
    {"query tail", "http://s", "?a='b'&c=%d", "http://s/?a='b'&c=%d"},
    {"base ends in lead byte + 0x2F", "http://h/\x81/", "f.exe", "http://h/\x81//f.exe"},
    {"base ends in trail byte 0x5C", "http://h/\x81\x5C", "f.exe", "http://h/\x81\x5C/f.exe"},
    {"double-byte character, then a slash", "http://h/\xD6\xD0/", "f.exe", "http://h/\xD6\xD0/f.exe"},
};

void UrlTable() {
  for (const UrlRow& r : kUrls) {
    char* url = nullptr;
    DWORD size = 0;
    const DWORD status = ComposeUrl(r.base, r.tail, &url, &size);
    const bool ok = status == 0 && url && strcmp(url, r.url) == 0 && size > strlen(url);
    Row(ok, "url", r.name, "status %lu, size %lu, \"%s\"", status, size, Shown(url));
    FreeBuffer(url);
  }
}

struct FieldRow { const char* name; size_t size; const char* text; const char* field; };
const FieldRow kFields[] = {
    {"fills size-1", 4, "abc", "abc"},
    {"one too long", 3, "abc", "ab"},
    {"size 1", 1, "abc", ""},
    {"null text", 4, nullptr, ""},
    {"two double-byte characters fit", 5, "\xD6\xD0\xCE\xC4", "\xD6\xD0\xCE\xC4"},
    {"second double-byte character left out whole", 4, "\xD6\xD0\xCE\xC4", "\xD6\xD0"},
    {"no half character after ASCII", 3, "a\xD6\xD0", "a"},
    {"trail byte 0x5C kept with its lead byte", 3, "\x81\x5C", "\x81\x5C"},
    {"character with trail byte 0x5C left out whole", 2, "\x81\x5C", ""},
    {"size 0 writes nothing", 0, "abc", nullptr},
};

void FieldTable() {
  for (const FieldRow& r : kFields) {
    char field[16];
    memset(field, '#', sizeof field);
    CopyToField(field, r.size, r.text);
    const bool terminated = r.size && memchr(field, 0, r.size);
    const bool ok = field[r.size] == '#' && (r.field ? terminated && strcmp(field, r.field) == 0 : field[0] == '#');
    Row(ok, "field", r.name, "\"%s\"", terminated ? Shown(field) : "(no terminator)");
  }
}

// The progress callback's answer to the download service once Cancel was
// pressed (no window: the bar's calls go nowhere).
struct AnswerRow { const char* name; ULONG code; HRESULT answer; };
const AnswerRow kAnswers[] = {
    {"begin of data", BINDSTATUS_BEGINDOWNLOADDATA, E_ABORT},
    {"data", BINDSTATUS_DOWNLOADINGDATA, E_ABORT},
    {"end of data", BINDSTATUS_ENDDOWNLOADDATA, E_ABORT},
    {"connecting, as every other", BINDSTATUS_CONNECTING, S_OK},
};

void AnswerTable() {
  ProgressWindow* window = ProgressWindow::Instance();
  window->Cancel();
  CDownloadBindStatusCallback callback(window);
  for (const AnswerRow& r : kAnswers) {
    const HRESULT answer = callback.OnProgress(1, 2, r.code, nullptr);
    Row(answer == r.answer, "answer after Cancel", r.name, "0x%08lX", static_cast<unsigned long>(answer));
  }
  ProgressWindow::Release();
}

// Wine answers the Windows version set for an executable in the registry
// (kAppDefaults, value "Version"), read when a process starts: each row runs
// this program again, and the child answers with the index of GetOsName()
// in kOsNames.
struct OsRow { const char* wineVersion; const char* name; };
const OsRow kOsNames[] = {
    {"win31", "Windows32"}, {"win95", "Windows95"}, {"win98", "Windows98"}, {"winme", "WindowsME"},
    {"nt351", "Microsoft Windows NT 3.0"}, {"nt40", "Windows NT"}, {"win2k", "Windows2000"},
    {"winxp", "WindowsXP"}, {"win2003", "Windows2003"}, {"vista", "Vista"}, {"win2008", "Vista"},
    {"win7", "Win7"}, {"win2008r2", "Win7"}, {"win8", "Microsoft Windows NT 3.0"},
    {"win10", "Microsoft Windows NT 3.0"},
};
const int kOsRows = sizeof kOsNames / sizeof kOsNames[0];
const char kAppDefaults[] = "Software\\Wine\\AppDefaults\\vexo_unit_tests.exe";

int OsNameIndex() {
  int i = 0;
  while (i < kOsRows && strcmp(GetOsName(), kOsNames[i].name) != 0) ++i;
  return i;
}

void OsNameTable() {
  HKEY key;
  if (!GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") ||
      RegCreateKeyExA(HKEY_CURRENT_USER, kAppDefaults, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr)) {
    Row(false, "os name", "Wine's AppDefaults", "not under Wine, or the key cannot be made");
    return;
  }
  char command[MAX_PATH + 16] = "\"";
  GetModuleFileNameA(nullptr, command + 1, MAX_PATH);
  strcat(command, "\" --os-name");
  for (const OsRow& r : kOsNames) {
    RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(r.wineVersion), strlen(r.wineVersion) + 1);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child;
    DWORD index = kOsRows;
    if (CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) {
      WaitForSingleObject(child.hProcess, 20000);
      GetExitCodeProcess(child.hProcess, &index);
      CloseHandle(child.hProcess);
      CloseHandle(child.hThread);
    }
    Row(index < kOsRows && strcmp(kOsNames[index].name, r.name) == 0, "os name", r.wineVersion, "\"%s\"",
        index < kOsRows ? kOsNames[index].name : "(another name, or no answer)");
  }
  RegCloseKey(key);
  RegDeleteKeyA(HKEY_CURRENT_USER, kAppDefaults);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && strcmp(argv[1], "--os-name") == 0) return OsNameIndex();
  if (GetACP() != 936) printf("warning: ANSI code page %u, not 936: the double-byte rows fail\n", GetACP());
  TokenTable();
  RestTable();
  BoundedTable();
  PropertyTable();
  UrlTable();
  FieldTable();
  AnswerTable();
  OsNameTable();
  printf("unit: %d passed, %d failed\n", g_passed, g_failed);
  return g_failed ? 1 : 0;
}
