// gdi32 and the painting calls of user32 for the host stand-in. Device
// contexts and GDI objects are counted, so a test can check that a paint
// released what it made. What is drawn is kept as layers per window and
// per bitmap (a fill, a text, an image, each with its rectangle), enough
// to ask what a point of a window shows.
#ifndef VEXO_STANDIN_GDI32_H
#define VEXO_STANDIN_GDI32_H

#include <map>
#include <string>
#include <vector>

#include "standin/types.h"

#define TRANSPARENT 1
#define OPAQUE 2
#define SRCCOPY 0x00CC0020u
#define DT_LEFT 0x00000000
#define DT_VCENTER 0x00000004
#define DT_SINGLELINE 0x00000020
#define DT_NOPREFIX 0x00000800
#define DT_END_ELLIPSIS 0x00008000
#define LF_FACESIZE 32

typedef struct tagPAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
} PAINTSTRUCT, *LPPAINTSTRUCT;

typedef struct tagLOGFONTA {
  LONG lfHeight;
  LONG lfWidth;
  LONG lfEscapement;
  LONG lfOrientation;
  LONG lfWeight;
  BYTE lfItalic;
  BYTE lfUnderline;
  BYTE lfStrikeOut;
  BYTE lfCharSet;
  BYTE lfOutPrecision;
  BYTE lfClipPrecision;
  BYTE lfQuality;
  BYTE lfPitchAndFamily;
  CHAR lfFaceName[LF_FACESIZE];
} LOGFONTA, *LPLOGFONTA;

HDC WINAPI GetDC(HWND window);
int WINAPI ReleaseDC(HWND window, HDC dc);
HDC WINAPI BeginPaint(HWND window, LPPAINTSTRUCT paint);
BOOL WINAPI EndPaint(HWND window, const PAINTSTRUCT* paint);
HDC WINAPI CreateCompatibleDC(HDC dc);
BOOL WINAPI DeleteDC(HDC dc);
HBITMAP WINAPI CreateCompatibleBitmap(HDC dc, int width, int height);
HBRUSH WINAPI CreateSolidBrush(COLORREF colour);
HFONT WINAPI CreateFontIndirectA(const LOGFONTA* font);
HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object);
BOOL WINAPI DeleteObject(HGDIOBJ object);
int WINAPI FillRect(HDC dc, const RECT* rect, HBRUSH brush);
int WINAPI SetBkMode(HDC dc, int mode);
int WINAPI DrawTextA(HDC dc, LPCSTR text, int length, LPRECT rect, UINT format);
BOOL WINAPI BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX, int sourceY, DWORD rop);
BOOL WINAPI InvalidateRect(HWND window, const RECT* rect, BOOL erase);
BOOL WINAPI UpdateWindow(HWND window);

namespace standin {

struct Layer {
  RECT rect;
  std::string what;  // "fill F0F0F0", "text <UTF-8>", "image <name>", "erased", "undefined"
};

struct TextCall {
  std::string text;  // ANSI, the bytes DrawTextA was given
  int length;
  RECT rect;
  UINT format;
  LONG fontHeight;  // of the font selected at the time, 0 for the stock font
  int bkMode;
};

struct GdiObject {
  std::string kind;  // "brush", "bitmap", "font"
  COLORREF colour = 0;
  int width = 0, height = 0;
  LONG fontHeight = 0;
  bool stock = false;
  std::vector<Layer> layers;  // bitmaps
};

struct DeviceContext {
  HWND window = nullptr;  // window DCs; null for memory DCs
  bool paint = false;     // from BeginPaint
  HGDIOBJ bitmap = nullptr, font = nullptr, brush = nullptr;
  int bkMode = OPAQUE;
};

struct GdiState {
  std::map<HGDIOBJ, GdiObject> objects;  // live objects, stock ones included
  std::map<HDC, DeviceContext> dcs;      // live device contexts
  std::map<HWND, std::vector<Layer>> surfaces;
  std::vector<TextCall> texts;
  std::vector<std::pair<HWND, RECT>> invalidations;  // a null rectangle is the whole client area
  std::vector<HWND> updates;
  std::vector<std::string> misuse;  // calls that Windows would refuse or that leak
  int paints = 0;                   // BeginPaint calls
};
GdiState& Gdi();

int OutstandingGdiObjects();  // not counting stock objects
int OutstandingDCs();
// What the window shows at a client point: the topmost layer there, or
// "" when nothing was drawn.
std::string WhatIsAt(HWND window, int x, int y);
// Draws a layer on a window or on the bitmap selected into a DC.
void PaintLayer(HWND window, const RECT& rect, const std::string& what, bool opaque);
void PaintLayer(HDC dc, const RECT& rect, const std::string& what, bool opaque);

}  // namespace standin

#endif
