#include "ui/slideshow.h"

#include <string.h>
#include <new>

Gdiplus::Image* g_slides[kSlideCount] = {};
int g_slideCounter = 0;

bool LoadImageResource(HINSTANCE module, WORD id, LPCSTR type, Gdiplus::Image** image) {
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
  void* storage = Gdiplus::DllExports::GdipAlloc(sizeof(Gdiplus::Image));
  Gdiplus::Image* loaded = storage ? ::new (storage) Gdiplus::Image(stream, FALSE) : nullptr;
  bool decoded = loaded && loaded->GetLastStatus() == Gdiplus::Ok;

  GlobalUnlock(block);
  stream->Release();
  FreeResource(data);
  // Nothing holds the block unless a picture was decoded from it.
  if (!decoded) GlobalFree(block);
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

    Gdiplus::Image* image = slide >= 0 && slide < kSlideCount ? g_slides[slide] : nullptr;
    if (image) {
      Gdiplus::Graphics graphics(memory);
      const UINT imageHeight = image->GetHeight();
      const UINT imageWidth = image->GetWidth();
      graphics.DrawImage(image, 0, 0, static_cast<INT>(imageWidth), static_cast<INT>(imageHeight));
      BitBlt(dc, client.left, client.top, width, height, memory, 0, 0, SRCCOPY);
    }

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
