#include <cstdlib>

#include "standin/standin.h"
#include "standin/win32.h"

struct Gdiplus::GpImage {
  IStream* stream;
  HGLOBAL block;
  std::string picture;
};

struct Gdiplus::GpGraphics {
  HDC dc;
};

namespace standin {
namespace {

GdiplusState g_gdiplus;
void ResetGdiplus() { g_gdiplus = GdiplusState(); }
ResetHook gdiplusHook(ResetGdiplus);

}  // namespace

GdiplusState& GdiplusLibrary() { return g_gdiplus; }

}  // namespace standin

using namespace standin;

namespace Gdiplus {

Status WINAPI GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input, GdiplusStartupOutput*) {
  if (!token || !input || input->GdiplusVersion != 1) return InvalidParameter;
  g_gdiplus.started = true;
  ++g_gdiplus.startups;
  *token = 1;
  return Ok;
}

void WINAPI GdiplusShutdown(ULONG_PTR) { g_gdiplus.started = false; }

namespace DllExports {

void* WINAPI GdipAlloc(size_t size) {
  if (g_gdiplus.allocFails) return nullptr;
  ++g_gdiplus.liveBlocks;
  return malloc(size);
}

void WINAPI GdipFree(void* block) {
  if (!block) return;
  --g_gdiplus.liveBlocks;
  free(block);
}

GpStatus WINAPI GdipLoadImageFromStream(IStream* stream, GpImage** image) {
  if (!image) return InvalidParameter;
  *image = nullptr;
  if (!g_gdiplus.started) return GdiplusNotInitialized;
  if (!stream) return InvalidParameter;
  HGLOBAL block = StreamBlock(stream);
  auto live = Heap().live.find(block);
  if (live == Heap().live.end()) {
    g_gdiplus.misuse.push_back("image loaded from a stream over a freed block");
    return Win32Error;
  }
  std::string bytes(static_cast<const char*>(block), live->second);
  if (bytes.compare(0, 3, "\xFF\xD8\xFF") != 0) return OutOfMemory;  // what GDI+ says of data it cannot decode
  stream->AddRef();  // the image reads the stream for as long as it lives
  *image = new GpImage{stream, block, bytes.substr(3)};
  ++g_gdiplus.liveImages;
  return Ok;
}

GpStatus WINAPI GdipLoadImageFromStreamICM(IStream* stream, GpImage** image) {
  g_gdiplus.misuse.push_back("image loaded with embedded colour management");
  return GdipLoadImageFromStream(stream, image);
}

GpStatus WINAPI GdipDisposeImage(GpImage* image) {
  if (!image) return InvalidParameter;
  image->stream->Release();
  delete image;
  --g_gdiplus.liveImages;
  return Ok;
}

GpStatus WINAPI GdipGetImageWidth(GpImage* image, UINT* width) {
  if (!image || !width) return InvalidParameter;
  *width = g_gdiplus.imageWidth;
  return Ok;
}

GpStatus WINAPI GdipGetImageHeight(GpImage* image, UINT* height) {
  if (!image || !height) return InvalidParameter;
  *height = g_gdiplus.imageHeight;
  return Ok;
}

GpStatus WINAPI GdipCreateFromHDC(HDC dc, GpGraphics** graphics) {
  if (!graphics) return InvalidParameter;
  *graphics = nullptr;
  if (!Gdi().dcs.count(dc)) return OutOfMemory;
  *graphics = new GpGraphics{dc};
  ++g_gdiplus.liveGraphics;
  return Ok;
}

GpStatus WINAPI GdipDeleteGraphics(GpGraphics* graphics) {
  if (!graphics) return InvalidParameter;
  delete graphics;
  --g_gdiplus.liveGraphics;
  return Ok;
}

GpStatus WINAPI GdipDrawImageRectI(GpGraphics* graphics, GpImage* image, INT x, INT y, INT width, INT height) {
  if (!graphics || !image) return InvalidParameter;
  if (!Heap().live.count(image->block)) g_gdiplus.misuse.push_back("image drawn after its block was freed");
  g_gdiplus.drawn.push_back({graphics->dc, image->picture, x, y, width, height});
  PaintLayer(graphics->dc, RECT{x, y, x + width, y + height}, "image " + image->picture, true);
  return Ok;
}

}  // namespace DllExports
}  // namespace Gdiplus
