#include "download/held_package.h"

#include "base/bounded_string.h"
#include "base/heap.h"
#include "base/platform_libraries.h"
#include "base/system_library.h"

namespace {

constexpr DWORD kMaxEntryInfoBytes = 65536;  // cache entries larger than this are not looked at
constexpr DWORD kCopyChunkBytes = 1 << 20;   // read and written at a time
constexpr DWORD kNameRandomBytes = 16;       // 128 bits of the folder's name

// SYSTEM and Administrators may do everything, users read and run;
// protected: nothing is inherited from the folder above. Files and folders
// made inside inherit the same.
const char kPrivateFolderAccess[] = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// Whether the handle is a plain file or folder (as wanted), not a link,
// junction or other reparse point.
bool IsPlain(HANDLE handle, bool folder) {
  BY_HANDLE_FILE_INFORMATION information;
  return GetFileInformationByHandle(handle, &information) &&
         (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ==
             (folder ? FILE_ATTRIBUTE_DIRECTORY : 0u);
}

HANDLE OpenUnfollowed(const char* path, DWORD access, DWORD share, DWORD flags) {
  HANDLE handle = CreateFileA(path, access, share, nullptr, OPEN_EXISTING, flags | FILE_FLAG_OPEN_REPARSE_POINT,
                              nullptr);
  return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

void CloseSlot(HANDLE& slot) {
  if (slot) CloseHandle(slot);
  slot = nullptr;
}

// Pins every folder of a file's path below its drive's root; false when
// the path is on no drive, or a folder cannot be held or is a reparse
// point: nothing in it is then touched. An empty path needs no pin.
bool PinFolders(const char* file, FolderPins* pins) {
  char path[kPathChars];
  if (!file[0]) return true;
  if (FAILED(BoundedCopy(path, sizeof path, file)) || path[1] != ':' || path[2] != '\\') return false;
  for (char* p = path + 3; *p; p = CharNextA(p)) {
    if (*p != '\\') continue;
    *p = '\0';
    // Listing takes part in sharing (reading attributes alone would not).
    HANDLE folder = OpenUnfollowed(path, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   FILE_FLAG_BACKUP_SEMANTICS);
    if (!folder) return false;
    pins->folders[pins->count++] = folder;
    if (!IsPlain(folder, true) || pins->count == static_cast<int>(sizeof pins->folders / sizeof pins->folders[0]))
      return false;
    *p = '\\';
  }
  return true;
}

void Unpin(FolderPins* pins) {
  while (pins->count > 0) CloseHandle(pins->folders[--pins->count]);
}

// Fills buffer from the system's random source: RtlGenRandom (XP and
// later), which needs no cryptographic provider (loading one costs several
// milliseconds); CryptGenRandom where it is missing (Windows 2000).
bool DrawRandom(void* buffer, ULONG bytes) {
  typedef BOOLEAN(WINAPI * GenRandomFn)(PVOID buffer, ULONG bytes);
  auto genRandom = FindEntryPoint<GenRandomFn>(GetModuleHandleA("advapi32.dll"), "SystemFunction036");
  if (genRandom) return genRandom(buffer, bytes);
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT | CRYPT_SILENT))
    return false;
  const bool drawn = CryptGenRandom(provider, bytes, static_cast<BYTE*>(buffer));
  CryptReleaseContext(provider, 0);
  return drawn;
}

// Makes the private folder, new (a name that exists, whoever made it,
// fails), with its security descriptor, and holds it. Its name: the
// Windows folder's Temp (the system's, not a session's own), "vexo-" and
// 32 hexadecimal digits of the system's random source.
bool MakePrivateFolder(HeldPackage* held) {
  DWORD random[kNameRandomBytes / sizeof(DWORD)];
  const bool drawn = DrawRandom(random, sizeof random);
  // The Windows folder goes through tempPath on its way into the name.
  const UINT length = GetSystemWindowsDirectoryA(held->tempPath, kPathChars);
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
  if (!drawn || length == 0 || length >= kPathChars ||
      FAILED(BoundedFormat(held->folderPath, kPathChars, "%s\\Temp\\vexo-%08lx%08lx%08lx%08lx", held->tempPath,
                           random[0], random[1], random[2], random[3])) ||
      !ConvertStringSecurityDescriptorToSecurityDescriptorA(kPrivateFolderAccess, SDDL_REVISION_1,
                                                            &attributes.lpSecurityDescriptor, nullptr))
    return false;
  const bool made = CreateDirectoryA(held->folderPath, &attributes);
  LocalFree(attributes.lpSecurityDescriptor);
  if (!made) {
    held->folderPath[0] = '\0';  // not ours: never removed
    return false;
  }
  held->folder = OpenUnfollowed(held->folderPath, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                FILE_FLAG_BACKUP_SEMANTICS);
  return held->folder && IsPlain(held->folder, true) &&
         SUCCEEDED(BoundedFormat(held->tempPath, kPathChars, "%s\\tmp", held->folderPath)) &&
         CreateDirectoryA(held->tempPath, nullptr);
}

// The last part of a name that may hold folders.
const char* LastPart(const char* name) {
  const char* last = name;
  for (const char* p = name; *p; p = CharNextA(p))
    if (*p == '\\' || *p == '/') last = p + 1;
  return last;
}

// Writes everything the source handle reads, from where it stands (a file
// just opened: its start), into a new file at path.
bool CopyHeldBytes(HANDLE source, const char* path) {
  HANDLE target = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (target == INVALID_HANDLE_VALUE) return false;
  void* chunk = VirtualAlloc(nullptr, kCopyChunkBytes, MEM_COMMIT, PAGE_READWRITE);
  bool copied = chunk != nullptr;
  for (DWORD read = 1; copied && read != 0;) {
    DWORD written = 0;
    copied = ReadFile(source, chunk, kCopyChunkBytes, &read, nullptr) &&
             WriteFile(target, chunk, read, &written, nullptr) && written == read;
  }
  if (chunk) VirtualFree(chunk, 0, MEM_RELEASE);
  return CloseHandle(target) && copied;
}

// Deletes what the folder at path holds (path is extended in place and
// restored), never following a link or a junction: such an entry is
// removed itself. What cannot be deleted now goes when Windows restarts.
void EmptyFolder(char* path) {
  const size_t length = static_cast<size_t>(lstrlenA(path));
  WIN32_FIND_DATAA found;
  if (FAILED(BoundedAppend(path, kPathChars, "\\*"))) return;
  HANDLE search = FindFirstFileA(path, &found);
  path[length] = '\0';
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const char* name = found.cFileName;
    if ((name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) ||
        FAILED(BoundedAppend(path, kPathChars, "\\")) || FAILED(BoundedAppend(path, kPathChars, name))) {
      path[length] = '\0';
      continue;
    }
    const DWORD attributes = found.dwFileAttributes;
    bool removed;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) EmptyFolder(path);
      removed = RemoveDirectoryA(path);
    } else {
      if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
      removed = DeleteFileA(path);
    }
    if (!removed) MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    path[length] = '\0';
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

void RemovePrivateFolder(HeldPackage* held) {
  CloseSlot(held->copy);
  if (!held->folderPath[0]) return;
  EmptyFolder(held->folderPath);
  CloseSlot(held->folder);
  if (!RemoveDirectoryA(held->folderPath)) MoveFileExA(held->folderPath, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

// Reads the URL-cache entry of url into the record's room, or a heap block
// where it needs more (ReleaseEntry frees that); null when there is none.
// The usual entry needs no memory: the clean-up works when none is left.
INTERNET_CACHE_ENTRY_INFOA* ReadEntry(const WinInetEntries* wininet, const char* url, HeldPackage* held) {
  auto* entry = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(held->entryRoom);
  DWORD size = sizeof held->entryRoom;
  if (wininet->GetUrlCacheEntryInfoA(url, entry, &size)) return entry;
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size > kMaxEntryInfoBytes) return nullptr;
  entry = static_cast<INTERNET_CACHE_ENTRY_INFOA*>(AllocateBuffer(size));
  if (entry && wininet->GetUrlCacheEntryInfoA(url, entry, &size)) return entry;
  FreeBuffer(entry);
  return nullptr;
}

void ReleaseEntry(HeldPackage* held, INTERNET_CACHE_ENTRY_INFOA* entry) {
  if (entry != reinterpret_cast<void*>(held->entryRoom)) FreeBuffer(entry);
}

const char* LocalFileOf(const INTERNET_CACHE_ENTRY_INFOA* entry) {
  return entry->lpszLocalFileName ? entry->lpszLocalFileName : "";
}

bool IsDownloadedFile(const DownloadTrail& trail, const char* file) {
  return file[0] && (lstrcmpiA(file, trail.cacheFile) == 0 || lstrcmpiA(file, trail.namedFile) == 0);
}

// Deletes the entry of url: the package's own whatever file it holds, with
// that file's folders pinned (into the record's pins, which the caller lets
// go of: the cache deletes the file by its path); another only where it
// holds a file of the download, whose folders are pinned already. A URL a
// server redirected to may name an entry of the user's own: that one stays.
void RemoveEntry(const WinInetEntries* wininet, const char* url, const DownloadTrail& trail, HeldPackage* held) {
  INTERNET_CACHE_ENTRY_INFOA* entry = ReadEntry(wininet, url, held);
  if (!entry) return;
  const char* file = LocalFileOf(entry);
  if (url == trail.url ? PinFolders(file, &held->pins) : IsDownloadedFile(trail, file))
    wininet->DeleteUrlCacheEntryA(url);
  ReleaseEntry(held, entry);
}

}  // namespace

HeldPackage* CreateHeldPackage() {
  HeldPackage* held = static_cast<HeldPackage*>(AllocateBuffer(sizeof(HeldPackage)));
  if (held) *held = HeldPackage{};
  return held;
}

bool HoldPackage(HeldPackage* held, const DownloadTrail& trail, const char* fileName) {
  // Every folder of the cache file's path pinned, so that the path names
  // this file until the clean-up has deleted it; the file read by nobody's
  // writes: without FILE_SHARE_WRITE or FILE_SHARE_DELETE no other program
  // can change, rename or delete it meanwhile.
  held->pinned = PinFolders(trail.cacheFile, &held->pins);
  if (!held->pinned) return false;
  // An empty path (no file downloaded) opens nothing.
  held->cacheFile = OpenUnfollowed(trail.cacheFile, GENERIC_READ, FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL);
  if (!held->cacheFile || !IsPlain(held->cacheFile, false) || !MakePrivateFolder(held) ||
      FAILED(BoundedFormat(held->copyPath, kPathChars, "%s\\%s", held->folderPath, LastPart(fileName))) ||
      !CopyHeldBytes(held->cacheFile, held->copyPath))
    return false;
  // Read only from here: the package itself may read its file, and its
  // process be created from it, but nothing writes it any more.
  held->copy = OpenUnfollowed(held->copyPath, GENERIC_READ, FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL);
  return held->copy && IsPlain(held->copy, false);
}

void RemoveHeldPackage(HeldPackage* held, const DownloadTrail& trail) {
  RemovePrivateFolder(held);
  const WinInetEntries* wininet = WinInet();
  // The folders of the files are pinned before the package is let go
  // (the package's since it was held).
  const bool pinned = (held->pinned || PinFolders(trail.cacheFile, &held->pins)) &&
                      PinFolders(trail.namedFile, &held->pins);
  CloseSlot(held->cacheFile);
  // A download thread left running may still be writing the rest: only
  // the package URL's own entry goes then.
  if (wininet && pinned && trail.settled) {
    // The entries of the URLs the download went on to that hold a file of
    // it; then the files, which no entry holds any more. Looked up by the
    // URLs the run knows: the cost does not grow with the user's cache.
    for (const char* url = trail.redirects; *url; url += lstrlenA(url) + 1) RemoveEntry(wininet, url, trail, held);
    DeleteFileA(trail.cacheFile);
    DeleteFileA(trail.namedFile);
  }
  Unpin(&held->pins);
  if (wininet) RemoveEntry(wininet, trail.url, trail, held);
  Unpin(&held->pins);
  FreeBuffer(held);
}
