// GDI+ for the host stand-in: the Image and Graphics classes over the
// flat API with the real names. An image decodes when its stream's block
// starts with the JPEG start-of-image marker (FF D8 FF); the bytes after
// the marker name the picture, so a test can see which slide was drawn.
#ifndef VEXO_STANDIN_GDIPLUS_H
#define VEXO_STANDIN_GDIPLUS_H

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "standin/types.h"
#include "standin/ole32.h"

namespace Gdiplus {

enum Status {
  Ok = 0,
  GenericError = 1,
  InvalidParameter = 2,
  OutOfMemory = 3,
  Win32Error = 7,
  GdiplusNotInitialized = 18,
};
typedef Status GpStatus;

struct GpImage;
struct GpGraphics;
typedef void(WINAPI* DebugEventProc)(int level, CHAR* message);

struct GdiplusStartupInput {
  uint32_t GdiplusVersion;
  DebugEventProc DebugEventCallback;
  BOOL SuppressBackgroundThread;
  BOOL SuppressExternalCodecs;
  GdiplusStartupInput(DebugEventProc debug = nullptr, BOOL suppressThread = FALSE, BOOL suppressCodecs = FALSE)
      : GdiplusVersion(1),
        DebugEventCallback(debug),
        SuppressBackgroundThread(suppressThread),
        SuppressExternalCodecs(suppressCodecs) {}
};
struct GdiplusStartupOutput {
  void* NotificationHook;
  void* NotificationUnhook;
};

Status WINAPI GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input, GdiplusStartupOutput* output);
void WINAPI GdiplusShutdown(ULONG_PTR token);

namespace DllExports {
void* WINAPI GdipAlloc(size_t size);
void WINAPI GdipFree(void* block);
GpStatus WINAPI GdipLoadImageFromStream(IStream* stream, GpImage** image);
GpStatus WINAPI GdipLoadImageFromStreamICM(IStream* stream, GpImage** image);
GpStatus WINAPI GdipDisposeImage(GpImage* image);
GpStatus WINAPI GdipGetImageWidth(GpImage* image, UINT* width);
GpStatus WINAPI GdipGetImageHeight(GpImage* image, UINT* height);
GpStatus WINAPI GdipCreateFromHDC(HDC dc, GpGraphics** graphics);
GpStatus WINAPI GdipDeleteGraphics(GpGraphics* graphics);
GpStatus WINAPI GdipDrawImageRectI(GpGraphics* graphics, GpImage* image, INT x, INT y, INT width, INT height);
}  // namespace DllExports

class GdiplusBase {
 public:
  static void* operator new(size_t size) { return DllExports::GdipAlloc(size); }
  static void operator delete(void* block) { DllExports::GdipFree(block); }
};

class Graphics;

class Image : public GdiplusBase {
 public:
  Image(IStream* stream, BOOL useEmbeddedColorManagement = FALSE) : nativeImage(nullptr), lastStatus(Ok) {
    lastStatus = useEmbeddedColorManagement ? DllExports::GdipLoadImageFromStreamICM(stream, &nativeImage)
                                            : DllExports::GdipLoadImageFromStream(stream, &nativeImage);
  }
  virtual ~Image() { DllExports::GdipDisposeImage(nativeImage); }
  UINT GetWidth() {
    UINT result = 0;
    updateStatus(DllExports::GdipGetImageWidth(nativeImage, &result));
    return result;
  }
  UINT GetHeight() {
    UINT result = 0;
    updateStatus(DllExports::GdipGetImageHeight(nativeImage, &result));
    return result;
  }
  Status GetLastStatus() const {
    Status result = lastStatus;
    lastStatus = Ok;
    return result;
  }

 private:
  friend class Graphics;
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;
  Status updateStatus(Status s) const {
    if (s != Ok) lastStatus = s;
    return s;
  }
  GpImage* nativeImage;
  mutable Status lastStatus;
};

class Graphics : public GdiplusBase {
 public:
  explicit Graphics(HDC dc) : nativeGraphics(nullptr), lastStatus(Ok) {
    lastStatus = DllExports::GdipCreateFromHDC(dc, &nativeGraphics);
  }
  ~Graphics() { DllExports::GdipDeleteGraphics(nativeGraphics); }
  Status DrawImage(Image* image, INT x, INT y, INT width, INT height) {
    return updateStatus(
        DllExports::GdipDrawImageRectI(nativeGraphics, image ? image->nativeImage : nullptr, x, y, width, height));
  }
  Status GetLastStatus() const {
    Status result = lastStatus;
    lastStatus = Ok;
    return result;
  }

 private:
  Graphics(const Graphics&) = delete;
  Graphics& operator=(const Graphics&) = delete;
  Status updateStatus(Status s) const {
    if (s != Ok) lastStatus = s;
    return s;
  }
  GpGraphics* nativeGraphics;
  mutable Status lastStatus;
};

}  // namespace Gdiplus

namespace standin {

struct DrawnImage {
  HDC dc;
  std::string picture;
  INT x, y, width, height;
};

struct GdiplusState {
  bool started = false;
  int startups = 0;
  bool allocFails = false;      // GdipAlloc answers null
  UINT imageWidth = 392;        // of every decodable image
  UINT imageHeight = 209;
  int liveBlocks = 0;           // from GdipAlloc, not yet freed
  int liveImages = 0;           // decoded and not yet disposed
  int liveGraphics = 0;
  std::vector<DrawnImage> drawn;
  std::vector<std::string> misuse;
};
GdiplusState& GdiplusLibrary();

}  // namespace standin

#endif
