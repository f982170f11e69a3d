// urlmon for the host stand-in: the COM interfaces the installer
// implements (IUnknown, IBindStatusCallback, in the platform's slot order)
// and the download into the URL cache.
#ifndef VEXO_STANDIN_URLMON_H
#define VEXO_STANDIN_URLMON_H

#include <functional>
#include <string>
#include <vector>

#include "standin/types.h"

#ifndef VEXO_STANDIN_IUNKNOWN
#define VEXO_STANDIN_IUNKNOWN
struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;
};
typedef IUnknown* LPUNKNOWN;
extern const IID IID_IUnknown;
#endif

// Only passed through by the installer, never looked into.
struct IBinding;
struct _tagBINDINFO;
typedef struct _tagBINDINFO BINDINFO;
struct tagFORMATETC;
typedef struct tagFORMATETC FORMATETC;
struct tagSTGMEDIUM;
typedef struct tagSTGMEDIUM STGMEDIUM;

struct IBindStatusCallback : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD reserved, IBinding* binding) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnLowResource(DWORD reserved) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                               LPCWSTR statusText) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR error) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* bindFlags, BINDINFO* bindInfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format,
                                                    STGMEDIUM* medium) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID riid, IUnknown* object) = 0;
};
typedef IBindStatusCallback* LPBINDSTATUSCALLBACK;
extern const IID IID_IBindStatusCallback;

typedef enum tagBINDSTATUS {
  BINDSTATUS_FINDINGRESOURCE = 1,
  BINDSTATUS_CONNECTING = 2,
  BINDSTATUS_REDIRECTING = 3,
  BINDSTATUS_BEGINDOWNLOADDATA = 4,
  BINDSTATUS_DOWNLOADINGDATA = 5,
  BINDSTATUS_ENDDOWNLOADDATA = 6,
  BINDSTATUS_BEGINDOWNLOADCOMPONENTS = 7,
  BINDSTATUS_INSTALLINGCOMPONENTS = 8,
  BINDSTATUS_ENDDOWNLOADCOMPONENTS = 9,
  BINDSTATUS_USINGCACHEDCOPY = 10,
  BINDSTATUS_SENDINGREQUEST = 11,
  BINDSTATUS_CLASSIDAVAILABLE = 12,
  BINDSTATUS_MIMETYPEAVAILABLE = 13,
  BINDSTATUS_CACHEFILENAMEAVAILABLE = 14,
} BINDSTATUS;

HRESULT WINAPI URLDownloadToCacheFileA(LPUNKNOWN caller, LPCSTR url, LPSTR fileName, DWORD fileNameChars,
                                       DWORD reserved, LPBINDSTATUSCALLBACK callback);

namespace standin {

// One OnProgress call the download service makes.
struct Notification {
  ULONG code;
  ULONG progress;
  ULONG progressMax;
};

struct DownloadCall {
  std::string url;
  DWORD fileNameChars = 0;
  DWORD reserved = 0;
  bool callerGiven = false;
  bool callbackGiven = false;
};

struct UrlmonState {
  // The outcome of the download. On success (not negative) the cache path
  // is written to the caller's buffer.
  HRESULT result = S_OK;
  std::string cachePath = "C:\\Users\\tester\\AppData\\Local\\Microsoft\\Windows\\INetCache\\IE\\X1Y2Z3\\vexo_303[1].exe";
  // Delivered in order to the callback, if one is passed. A notification
  // answered with E_ABORT ends the download with E_ABORT.
  std::vector<Notification> notifications;
  // Runs before notification i is delivered (e.g. a click on Cancel that
  // waits in the queue).
  std::function<void(size_t index)> beforeNotification;

  // Recorded.
  std::vector<DownloadCall> calls;
  std::vector<HRESULT> progressResults;  // what the callback answered, per notification
  int queryInterfaceCalls = 0;
  bool callbackQueryFailed = false;      // the callback refused IBindStatusCallback
  ULONG refCountAfterRelease = 0;        // what the callback's last Release returned
};
UrlmonState& Urlmon();

}  // namespace standin

#endif
