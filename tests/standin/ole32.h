// ole32 for the host stand-in: a stream over a global memory block.
#ifndef VEXO_STANDIN_OLE32_H
#define VEXO_STANDIN_OLE32_H

#include "standin/types.h"

// Only the IUnknown part of the stream is declared; the stand-in's GDI+
// reads the block behind it directly.
struct IStream {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;

 protected:
  ~IStream() = default;
};
typedef IStream* LPSTREAM;

HRESULT WINAPI CreateStreamOnHGlobal(HGLOBAL block, BOOL deleteOnRelease, LPSTREAM* stream);

namespace standin {

struct Ole32State {
  int streamsCreated = 0;
  int liveStreams = 0;  // created and not yet released to zero
  bool createFails = false;
};
Ole32State& Ole32();

// The block behind a stream from CreateStreamOnHGlobal.
HGLOBAL StreamBlock(IStream* stream);

}  // namespace standin

#endif
