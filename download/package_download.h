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

// Removes what the download left behind: the URL-cache entries of its URL
// and of every URL it was redirected to, and the files it named as its
// cache files, with whatever entry still holds them.
void RemoveDownloadLeftovers(PackageDownload* download);

// Gives up the caller's hold on the record.
void ReleasePackageDownload(PackageDownload* download);

#endif
