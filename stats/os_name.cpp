#include "stats/os_name.h"

#include <string.h>

#include "base/heap.h"
#include "base/platform.h"

namespace {

const char kNtDefault[] = "Microsoft Windows NT 3.0";
const char kWin9xDefault[] = "Windows95";
const char kWin32s[] = "Windows32";

struct VersionName {
  DWORD major;
  DWORD minor;
  bool anyMinor;
  const char* name;
};

// First match wins; server editions share the client's numbers and name.
const VersionName kNtNames[] = {
    {4, 0, true, "Windows NT"},  {5, 0, false, "Windows2000"}, {5, 1, false, "WindowsXP"},
    {5, 2, false, "Windows2003"}, {6, 0, false, "Vista"},       {6, 1, false, "Win7"},
};
const VersionName kWin9xNames[] = {
    {4, 10, false, "Windows98"},
    {4, 90, false, "WindowsME"},
};

template <size_t N>
const char* NameOf(const VersionName (&names)[N], DWORD major, DWORD minor, const char* fallback) {
  for (const VersionName& v : names)
    if (v.major == major && (v.anyMinor || v.minor == minor)) return v.name;
  return fallback;
}

// Reads major and minor from the plain version record. False when the
// record could not be allocated; a failed query leaves both at 0.
bool ReadVersion(DWORD* major, DWORD* minor) {
  OSVERSIONINFOA* info = static_cast<OSVERSIONINFOA*>(AllocateBuffer(sizeof(OSVERSIONINFOA)));
  if (info == nullptr) return false;
  memset(info, 0, sizeof *info);
  info->dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
  GetVersionExA(info);
  *major = info->dwMajorVersion;
  *minor = info->dwMinorVersion;
  FreeBuffer(info);
  return true;
}

}  // namespace

const char* GetOsName() {
  const DWORD version = GetVersion();
  const bool win9xFamily = (version & 0x80000000u) != 0;
  if (win9xFamily && LOBYTE(version) < 4) return kWin32s;

  const char* fallback = win9xFamily ? kWin9xDefault : kNtDefault;
  DWORD major = 0;
  DWORD minor = 0;
  if (!ReadVersion(&major, &minor)) return fallback;
  return win9xFamily ? NameOf(kWin9xNames, major, minor, fallback) : NameOf(kNtNames, major, minor, fallback);
}
