// The downloaded package from the end of its download to the end of the
// run: held in the URL cache, copied into a folder of the run's own that
// only administrators can write, checked and run from there, and removed
// with everything the run left behind.
//
// The URL cache and the user's temporary folder belong to the user: any
// program the user runs can write there, rename a folder of the path, or
// leave a DLL beside the package. So the package runs from a copy in a new
// folder under the Windows folder's Temp, made with a protected security
// descriptor (SYSTEM and Administrators may write, nothing inherited from
// above) and a name from the system's random source, held open while the
// run lasts. The checks read that copy through its handle: the bytes
// checked are the bytes that run.
#ifndef VEXO_DOWNLOAD_HELD_PACKAGE_H
#define VEXO_DOWNLOAD_HELD_PACKAGE_H

#include "base/platform.h"
#include "base/sizes.h"
#include "download/package_download.h"

// Folders held open while files in them are read or deleted, each a
// plain folder and not a junction or another reparse point. They are
// shared for reading and writing only, so nobody can rename, move or
// delete one meanwhile (and a folder that holds something cannot become a
// junction): a path through them names the same file until they are let go.
struct FolderPins {
  HANDLE folders[kPathChars];  // two paths: a folder takes a name and a backslash
  int count;
};

struct HeldPackage {
  FolderPins pins;   // the folders of the cache file's path, from the hold to the clean-up
  bool pinned;       // they are all in pins
  HANDLE cacheFile;  // the downloaded file, held against writers until the clean-up
  HANDLE folder;     // the private folder, held against renaming until it is removed
  HANDLE copy;       // the package's copy in it, open for reading only
  char folderPath[kPathChars];
  char copyPath[kPathChars];
  char tempPath[kPathChars];  // the package's temporary folder, inside the private one
  DWORD entryRoom[1024];      // a URL-cache entry's record, read without an allocation
};

// A cleared record; null when there is no memory for it.
HeldPackage* CreateHeldPackage();

// Holds the downloaded file (a file link is refused, not followed, as is a
// path through a junction), makes the private folder and copies the held
// bytes into it under fileName's last part. False when any of it fails:
// the download then counts as failed.
bool HoldPackage(HeldPackage* held, const DownloadTrail& trail, const char* fileName);

// Removes the private folder with everything in it (links and junctions
// themselves, never what they point to), then what the download left in
// the URL cache: the files it named, the entries of the URLs it asked for
// that hold one of them, and the entry of the package's URL. Each cache
// folder is pinned while files in it are deleted; a folder that is a
// junction, or cannot be held, is left alone. Frees the record.
void RemoveHeldPackage(HeldPackage* held, const DownloadTrail& trail);

#endif
