// The download of the package into the URL cache. URLDownloadToCacheFileA
// runs on a thread of its own; the installer's thread watches it, keeps
// its window answering and its Cancel working, and gives the download up
// when nothing arrives for too long.
#ifndef VEXO_DOWNLOAD_PACKAGE_DOWNLOAD_H
#define VEXO_DOWNLOAD_PACKAGE_DOWNLOAD_H

#include "base/platform.h"

class CDownloadBindStatusCallback;

// A download that has had no notification from the download service (no
// byte of the package, no step of a connection) for this long has failed.
constexpr DWORD kStallTimeoutMs = 30000;
// Redirects followed at most; the next one fails the download.
constexpr int kMaxRedirects = 10;

struct PackageDownload;

// The record of one download of url (copied), holding the cache file
// name; null when there is no memory for it. The download's thread starts
// at once and loads the download service while the caller goes on; the
// download itself starts with RunPackageDownload.
PackageDownload* CreatePackageDownload(const char* url);

// Downloads while dispatching the calling thread's messages. In the
// interactive modes progress, bound to the progress window, moves its bar
// and shows the end balloon, and the window's Cancel stops the download;
// the silent modes pass none. Negative for a failed, stalled, cut-short,
// over-redirected or cancelled download.
HRESULT RunPackageDownload(PackageDownload* download, CDownloadBindStatusCallback* progress);

// The local path of the downloaded package; empty unless it succeeded.
const char* DownloadedFile(const PackageDownload* download);

// Opens the downloaded package for reading and holds it, and every folder
// of its path, until the clean-up: no other program can write, rename or
// delete it, or swap a folder of its path, meanwhile, so the file that is
// checked is the file that runs. Null when the download did not succeed
// or the file cannot be held so (another program has it open for writing,
// a folder of its path is a junction).
HANDLE HoldDownloadedFile(PackageDownload* download);

// Removes what the download left behind, each folder checked and held
// against renaming while files in it are deleted (a folder that is a
// junction, or cannot be held, is left alone), and only then lets go of
// the package: the files it named as its cache files with the entries
// that hold them, the entries of URLs it was redirected to that hold one
// of those files, and the entry of its URL.
void RemoveDownloadLeftovers(PackageDownload* download);

// Gives up the caller's hold on the record.
void ReleasePackageDownload(PackageDownload* download);

#endif
