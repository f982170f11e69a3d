#include "standin/standin.h"
#include "standin/win32.h"

namespace standin {
namespace {

Ole32State g_ole32;
void ResetOle32() { g_ole32 = Ole32State(); }
ResetHook ole32Hook(ResetOle32);

class BlockStream final : public IStream {
 public:
  BlockStream(HGLOBAL block, bool deleteOnRelease) : block_(block), deleteOnRelease_(deleteOnRelease) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    if (object) *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --refs_;
    if (left == 0) {
      --g_ole32.liveStreams;
      if (deleteOnRelease_) GlobalFree(block_);
      delete this;
    }
    return left;
  }
  HGLOBAL block() const { return block_; }

 private:
  ~BlockStream() = default;
  HGLOBAL block_;
  bool deleteOnRelease_;
  ULONG refs_ = 1;
};

}  // namespace

Ole32State& Ole32() { return g_ole32; }

HGLOBAL StreamBlock(IStream* stream) { return static_cast<BlockStream*>(stream)->block(); }

}  // namespace standin

using namespace standin;

HRESULT WINAPI CreateStreamOnHGlobal(HGLOBAL block, BOOL deleteOnRelease, LPSTREAM* stream) {
  if (!stream) return E_INVALIDARG;
  *stream = nullptr;
  if (g_ole32.createFails) return E_OUTOFMEMORY;
  *stream = new BlockStream(block, deleteOnRelease != FALSE);
  ++g_ole32.streamsCreated;
  ++g_ole32.liveStreams;
  return S_OK;
}
