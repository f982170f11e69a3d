// The progress of the download in the interactive modes: it moves the
// progress bar, announces the end of the data and aborts the download once
// the user has pressed Cancel. The download service's notifications reach
// it on the installer's thread, relayed by the download thread's watch
// (package_download.cpp).
#ifndef VEXO_DOWNLOAD_BIND_STATUS_CALLBACK_H
#define VEXO_DOWNLOAD_BIND_STATUS_CALLBACK_H

#include "base/platform.h"

class ProgressWindow;

// QueryInterface of an IBindStatusCallback: IUnknown and
// IBindStatusCallback are the callback itself, with a reference added.
HRESULT QueryBindStatusCallback(IBindStatusCallback* callback, REFIID riid, void** object);

// Lives in the caller's frame for the duration of one download call. The
// caller's initial reference is never released, so Release never frees it
// as long as no one releases more than it added.
class CDownloadBindStatusCallback final : public IBindStatusCallback {
 public:
  explicit CDownloadBindStatusCallback(ProgressWindow* progressWindow);
  CDownloadBindStatusCallback(const CDownloadBindStatusCallback&) = delete;
  CDownloadBindStatusCallback& operator=(const CDownloadBindStatusCallback&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IBindStatusCallback
  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD reserved, IBinding* binding) override;
  HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) override;
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD reserved) override;
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                       LPCWSTR statusText) override;
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR error) override;
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* bindFlags, BINDINFO* bindInfo) override;
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format,
                                            STGMEDIUM* medium) override;
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID riid, IUnknown* object) override;

  ProgressWindow* Window() const { return m_pProgressWindow; }

 private:
  HRESULT AdvanceTo(ULONG progress);
  HRESULT Complete(ULONG progressMax);

  ProgressWindow* m_pProgressWindow;  // not owned
  ULONG m_cRef;
  ULONG m_ulLastProgress;  // the last progress value passed on to the bar
};

#endif
