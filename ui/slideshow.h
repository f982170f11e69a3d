// The rotating banner at the top of the progress window: four JPEG slides
// from the resources, drawn double-buffered, advanced by window timers.
#ifndef VEXO_UI_SLIDESHOW_H
#define VEXO_UI_SLIDESHOW_H

#include "base/platform.h"

constexpr int kSlideCount = 4;
constexpr WORD kFirstSlideId = 129;  // resources 129 to 132
constexpr char kSlideType[] = "JPG";
constexpr UINT_PTR kRotationTimer = 100;
constexpr UINT_PTR kFirstSlideTimer = 101;
constexpr UINT_PTR kRepaintTimer = 102;
constexpr UINT kRotationMs = 5000;
constexpr UINT kOneShotMs = 10;
constexpr COLORREF kBackgroundColour = 0x00F0F0F0;

// One entry of the slide table: present once its resource was read, with
// the decoded picture, or null when it could not be decoded.
struct Slide {
  bool present;
  Gdiplus::GpImage* image;
};

// The slides and the rotation count; the slide shown is the counter
// modulo 4. The images live until the process ends.
extern Slide g_slides[kSlideCount];
extern int g_slideCounter;

// Loads resource id of type into a new image. False, with image
// unchanged, when the resource is missing or its bytes can't be put in a
// stream; true otherwise, also when the data does not decode or GDI+ is
// not there (image is then null).
bool LoadImageResource(HINSTANCE module, WORD id, LPCSTR type, Gdiplus::GpImage** image);
// Composes slide over the whole client area off-screen and copies it to
// the window in one go, with the status line last shown drawn over it; a
// slide that is not present copies nothing.
void PaintSlide(HWND window, int slide);
// Timer 101 shows the first slide and starts the rotation, 100 advances
// it, 102 repaints the current one once.
void CALLBACK SlideTimerProc(HWND window, UINT message, UINT_PTR timerId, DWORD tickCount);

#endif
