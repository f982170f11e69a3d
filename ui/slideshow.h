// The rotating banner at the top of the progress window.
#ifndef VEXO_UI_SLIDESHOW_H
#define VEXO_UI_SLIDESHOW_H

#include "driver/platform.h"

constexpr int kSlideCount = 4;
constexpr UINT_PTR kRotationTimer = 100;
constexpr UINT_PTR kFirstSlideTimer = 101;
constexpr UINT_PTR kRepaintTimer = 102;
constexpr UINT kRotationMs = 5000;
constexpr UINT kOneShotMs = 10;
constexpr COLORREF kBackgroundColour = 0x00F0F0F0;

extern Gdiplus::Image* g_slides[kSlideCount];
extern int g_slideCounter;

bool LoadImageResource(HINSTANCE module, WORD id, LPCSTR type, Gdiplus::Image** image);
void PaintSlide(HWND window, int slide);
void CALLBACK SlideTimerProc(HWND window, UINT message, UINT_PTR timerId, DWORD tickCount);

#endif
