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

// What a download leaves in the URL cache, as far as the run knows it:
// the URLs it asked for and the files the download service named. The
// clean-up looks up exactly these, never the whole cache.
struct DownloadTrail {
  const char* url;        // the package's URL
  const char* redirects;  // URLs the download was sent on to, each ended by a NUL; an empty one ends them
  const char* cacheFile;  // the local path the download returned; empty unless it succeeded
  const char* namedFile;  // the cache file the service announced, if it did
  bool settled;           // the download thread has ended: nothing of this changes any more
};

// The record's trail; valid until the record is released.
DownloadTrail TrailOf(const PackageDownload* download);

// Gives up the caller's hold on the record.
void ReleasePackageDownload(PackageDownload* download);

#endif
