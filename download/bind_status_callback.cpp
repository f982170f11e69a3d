#include "download/bind_status_callback.h"

#include "base/sizes.h"
#include "resource_ids.h"
#include "ui/progress_window.h"
#include "ui/tray_icon.h"

namespace {

constexpr UINT kBalloonTimeoutMs = 1000;

// The bar takes a signed delta; progress values are unsigned and may go
// back, so the difference is taken modulo 2^32 and read as signed.
int ProgressDelta(ULONG to, ULONG from) { return static_cast<int>(static_cast<DWORD>(to - from)); }

}  // namespace

CDownloadBindStatusCallback::CDownloadBindStatusCallback(ProgressWindow* progressWindow)
    : m_pProgressWindow(progressWindow), m_cRef(1), m_ulLastProgress(0) {}

HRESULT QueryBindStatusCallback(IBindStatusCallback* callback, REFIID riid, void** object) {
  if (object == nullptr) return E_INVALIDARG;
  *object = nullptr;
  if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IBindStatusCallback)) return E_NOINTERFACE;
  *object = callback;
  callback->AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CDownloadBindStatusCallback::QueryInterface(REFIID riid, void** object) {
  return QueryBindStatusCallback(this, riid, object);
}

// A plain counter: the object lives on the installer's thread, where the
// download thread relays the service's notifications to it.
ULONG STDMETHODCALLTYPE CDownloadBindStatusCallback::AddRef() { return ++m_cRef; }

ULONG STDMETHODCALLTYPE CDownloadBindStatusCallback::Release() {
  ULONG count = --m_cRef;
  // The storage is the caller's frame (see the header), not the heap: at
  // zero the object is destroyed and there is nothing to free.
  if (count == 0) this->~CDownloadBindStatusCallback();
  return count;
}

HRESULT STDMETHODCALLTYPE CDownloadBindStatusCallback::OnStartBinding(DWORD, IBinding*) {
  return S_OK;  // the binding is not kept: Cancel works through OnProgress
}

HRESULT STDMETHODCALLTYPE CDownloadBindStatusCallback::GetPriority(LONG*) {
  return S_OK;  // the service's own priority stays
}

HRESULT STDMETHODCALLTYPE CDownloadBindStatusCallback::OnLowResource(DWORD) {
  return S_OK;  // nothing held that could be given back
}

HRESULT STDMETHODCALLTYPE CDownloadBindStatusCallback::OnProgress(ULONG progress, ULONG progressMax,
                                                                  ULONG statusCode, LPCWSTR) {
  switch (statusCode) {
    case BINDSTATUS_BEGINDOWNLOADDATA:
      m_pProgressWindow->SetRange(static_cast<int>(progressMax));
      m_ulLastProgress = 0;
      if (m_pProgressWindow->IsCancelled()) return E_ABORT;
      return AdvanceTo(progress);
    case BINDSTATUS_DOWNLOADINGDATA:
      return AdvanceTo(progress);
    case BINDSTATUS_ENDDOWNLOADDATA:
      return Complete(progressMax);
    default:
      return S_OK;  // resource lookup, connection, redirects...: nothing to show, nothing to check
  }
}

HRESULT STDMETHODCALLTYPE CDownloadBindStatusCallback::OnStopBinding(HRESULT, LPCWSTR) {
  return S_OK;  // the outcome is what URLDownloadToCacheFileA returns
}

HRESULT STDMETHODCALLTYPE CDownloadBindStatusCallback::GetBindInfo(DWORD*, BINDINFO*) {
  return S_OK;  // the service's default bind flags and information stay
}

HRESULT STDMETHODCALLTYPE CDownloadBindStatusCallback::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) {
  return S_OK;  // the data goes to the cache file, not through here
}

HRESULT STDMETHODCALLTYPE CDownloadBindStatusCallback::OnObjectAvailable(REFIID, IUnknown*) {
  return S_OK;  // a download to a file binds no object
}

HRESULT CDownloadBindStatusCallback::AdvanceTo(ULONG progress) {
  int delta = ProgressDelta(progress, m_ulLastProgress);
  m_ulLastProgress = progress;
  if (delta != 0) m_pProgressWindow->Step(delta);
  return m_pProgressWindow->IsCancelled() ? E_ABORT : S_OK;
}

HRESULT CDownloadBindStatusCallback::Complete(ULONG progressMax) {
  int delta = ProgressDelta(progressMax, m_ulLastProgress);
  if (delta != 0) m_pProgressWindow->Step(delta);
  if (m_pProgressWindow->IsCancelled()) return E_ABORT;

  char caption[kShortTextChars] = {};
  char text[kShortTextChars] = {};
  LoadStringA(m_pProgressWindow->Module(), IDS_CAPTION, caption, static_cast<int>(sizeof caption));
  LoadStringA(m_pProgressWindow->Module(), IDS_DOWNLOAD_COMPLETE, text, static_cast<int>(sizeof text));
  ShowTrayBalloon(text, caption, NIIF_INFO, kBalloonTimeoutMs);
  m_pProgressWindow->ShowStatus(text);
  return S_OK;
}
