#include "standin/standin.h"

#include <iconv.h>

#include <cstring>

namespace standin {
namespace {

std::vector<void (*)()>& Hooks() {
  static std::vector<void (*)()> hooks;
  return hooks;
}

struct HandleTable {
  std::map<HANDLE, std::string> live;
  uintptr_t next = 0x1000;
};
HandleTable& Handles() {
  static HandleTable table;
  return table;
}

std::vector<Event>& EventList() {
  static std::vector<Event> events;
  return events;
}

bool Convert(const char* from, const char* to, const std::string& in, std::string* out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == (iconv_t)-1) return false;
  std::string result;
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char buf[256];
  bool ok = true;
  while (srcLeft > 0) {
    char* dst = buf;
    size_t dstLeft = sizeof buf;
    size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    result.append(buf, dst - buf);
    if (r == (size_t)-1 && errno != E2BIG) {
      ok = false;
      break;
    }
  }
  iconv_close(cd);
  if (ok) *out = result;
  return ok;
}

// Never destroyed: blocks the program keeps until it ends (the decoded
// slides, for one) stay reachable through it when the test binary exits.
HeapState& HeapStorage() {
  static HeapState* heap = new HeapState;
  return *heap;
}

void ResetCore() {
  for (auto& kv : HeapStorage().live) free(const_cast<void*>(kv.first));
  HeapStorage() = HeapState();
  Handles() = HandleTable();
  EventList().clear();
}
ResetHook coreHook(ResetCore);

}  // namespace

ResetHook::ResetHook(void (*fn)()) { Hooks().push_back(fn); }

void Reset() {
  for (auto fn : Hooks()) fn();
}

std::string Ansi(const std::string& utf8) {
  std::string out;
  return Convert("UTF-8", "CP936", utf8, &out) ? out : std::string("?");
}

std::string Utf8(const std::string& ansi) {
  std::string out;
  return Convert("CP936", "UTF-8", ansi, &out) ? out : std::string("?");
}

std::u16string Utf16(const std::string& utf8) {
  std::string out;
  if (!Convert("UTF-8", "UTF-16LE", utf8, &out)) return u"?";
  return std::u16string(reinterpret_cast<const char16_t*>(out.data()), out.size() / 2);
}

std::u16string AnsiToUtf16(const std::string& ansi) {
  std::string out;
  if (!Convert("CP936", "UTF-16LE", ansi, &out)) return std::u16string();
  return std::u16string(reinterpret_cast<const char16_t*>(out.data()), out.size() / 2);
}

bool Utf16ToAnsi(const std::u16string& wide, std::string* ansi) {
  std::string in(reinterpret_cast<const char*>(wide.data()), wide.size() * 2);
  return Convert("UTF-16LE", "CP936", in, ansi);
}

HeapState& Heap() { return HeapStorage(); }
int OutstandingAllocations() { return static_cast<int>(HeapStorage().live.size()); }

HANDLE NewHandle(const std::string& kind) {
  HandleTable& t = Handles();
  HANDLE h = reinterpret_cast<HANDLE>(t.next);
  t.next += 4;
  t.live[h] = kind;
  return h;
}

bool IsLiveHandle(HANDLE h) { return Handles().live.count(h) != 0; }

std::string HandleKind(HANDLE h) {
  auto it = Handles().live.find(h);
  return it == Handles().live.end() ? std::string() : it->second;
}

bool ReleaseHandle(HANDLE h) { return Handles().live.erase(h) != 0; }

int OutstandingHandles() { return static_cast<int>(Handles().live.size()); }

std::vector<std::string> OutstandingHandleKinds() {
  std::vector<std::string> kinds;
  for (auto& kv : Handles().live) kinds.push_back(kv.second);
  return kinds;
}

std::vector<Event>& Events() { return EventList(); }
void Record(const std::string& what, const std::string& detail) { EventList().push_back({what, detail}); }

}  // namespace standin
