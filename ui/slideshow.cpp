#include "ui/slideshow.h"

#include <string.h>

#include "base/platform_libraries.h"
#include "ui/progress_window.h"

Slide g_slides[kSlideCount] = {};
int g_slideCounter = 0;

bool LoadImageResource(HINSTANCE module, WORD id, LPCSTR type, Gdiplus::GpImage** image) {
  HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), type);
  if (!resource) return false;
  DWORD size = SizeofResource(module, resource);
  HGLOBAL data = LoadResource(module, resource);
  if (!data) return false;
  const void* bytes = LockResource(data);
  HGLOBAL block = bytes ? GlobalAlloc(GMEM_FIXED, size) : nullptr;
  void* copy = block ? GlobalLock(block) : nullptr;
  IStream* stream = nullptr;
  if (copy) {
    memcpy(copy, bytes, size);
    if (FAILED(CreateStreamOnHGlobal(block, FALSE, &stream))) stream = nullptr;
  }
  if (!stream) {
    if (copy) GlobalUnlock(block);
    if (block) GlobalFree(block);
    FreeResource(data);
    return false;
  }

  // The image reads the stream, and so the block, for as long as it lives.
  // Without GDI+ nothing can be decoded: the slide is there, but empty.
  Gdiplus::GpImage* loaded = nullptr;
  const GdiPlusEntries* gdiplus = GdiPlus();
  if (gdiplus && gdiplus->GdipLoadImageFromStream(stream, &loaded) != Gdiplus::Ok) loaded = nullptr;

  GlobalUnlock(block);
  stream->Release();
  FreeResource(data);
  // Nothing holds the block unless a picture was decoded from it.
  if (!loaded) GlobalFree(block);
  *image = loaded;
  return true;
}

void PaintSlide(HWND window, int slide) {
  if (!IsWindow(window)) return;
  HDC dc = GetDC(window);
  if (!dc) return;
  RECT client = {0, 0, 0, 0};
  GetClientRect(window, &client);
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;

  HDC memory = CreateCompatibleDC(dc);
  HBITMAP bitmap = memory ? CreateCompatibleBitmap(dc, width, height) : nullptr;
  if (bitmap) {
    HGDIOBJ previousBitmap = SelectObject(memory, bitmap);
    HBRUSH background = CreateSolidBrush(kBackgroundColour);
    if (background) FillRect(memory, &client, background);

    // A slide that is there but holds no picture shows the background.
    const Slide* shown = slide >= 0 && slide < kSlideCount && g_slides[slide].present ? &g_slides[slide] : nullptr;
    const GdiPlusEntries* gdiplus = shown && shown->image ? GdiPlus() : nullptr;
    Gdiplus::GpGraphics* graphics = nullptr;
    if (gdiplus && gdiplus->GdipCreateFromHDC(memory, &graphics) == Gdiplus::Ok) {
      UINT imageHeight = 0;
      UINT imageWidth = 0;
      if (gdiplus->GdipGetImageHeight(shown->image, &imageHeight) != Gdiplus::Ok) imageHeight = 0;
      if (gdiplus->GdipGetImageWidth(shown->image, &imageWidth) != Gdiplus::Ok) imageWidth = 0;
      gdiplus->GdipDrawImageRectI(graphics, shown->image, 0, 0, static_cast<INT>(imageWidth),
                                  static_cast<INT>(imageHeight));
      gdiplus->GdipDeleteGraphics(graphics);
    }
    // The picture covers the status strip too: the line goes back on it.
    ProgressWindow::DrawKeptStatus(window, memory);
    if (shown) BitBlt(dc, client.left, client.top, width, height, memory, 0, 0, SRCCOPY);

    // The dialog does not clip its children: they repaint over the banner.
    SendMessageA(window, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(window, &client, FALSE);
    UpdateWindow(window);

    SelectObject(memory, previousBitmap);
    if (background) DeleteObject(background);
    DeleteObject(bitmap);
  }
  if (memory) DeleteDC(memory);
  ReleaseDC(window, dc);
}

namespace {

// The slide at the counter; the count starts over once a cycle past the
// first has been shown, so it stays between 0 and 8.
int CurrentSlide() {
  const int slide = g_slideCounter % kSlideCount;
  if (g_slideCounter > kSlideCount && slide == 0) g_slideCounter = 0;
  return slide;
}

}  // namespace

void CALLBACK SlideTimerProc(HWND window, UINT, UINT_PTR timerId, DWORD) {
  switch (timerId) {
    case kFirstSlideTimer:
      KillTimer(window, kFirstSlideTimer);
      g_slideCounter = 0;
      PaintSlide(window, 0);
      g_slideCounter = 1;
      SetTimer(window, kRotationTimer, kRotationMs, SlideTimerProc);
      break;
    case kRotationTimer:
      PaintSlide(window, CurrentSlide());
      ++g_slideCounter;
      break;
    case kRepaintTimer:
      KillTimer(window, kRepaintTimer);
      Sleep(kOneShotMs);
      PaintSlide(window, CurrentSlide());
      break;
  }
}
