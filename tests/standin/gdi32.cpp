#include <algorithm>
#include <cstdio>
#include <set>

#include "standin/standin.h"
#include "standin/win32.h"

namespace standin {
namespace {

GdiState g_gdi;
uintptr_t g_nextGdi = 0x30000;
HGDIOBJ g_stockBitmap = nullptr;
HGDIOBJ g_stockFont = nullptr;
std::set<HWND> g_pendingErase;

void* NextHandle() {
  void* h = reinterpret_cast<void*>(g_nextGdi);
  g_nextGdi += 0x10;
  return h;
}

HGDIOBJ NewObject(const GdiObject& object) {
  HGDIOBJ h = NextHandle();
  g_gdi.objects[h] = object;
  return h;
}

void ResetGdi() {
  g_gdi = GdiState();
  g_nextGdi = 0x30000;
  g_pendingErase.clear();
  GdiObject stock;
  stock.stock = true;
  stock.kind = "bitmap";
  stock.width = stock.height = 1;
  g_stockBitmap = NewObject(stock);
  stock.kind = "font";
  g_stockFont = NewObject(stock);
}
ResetHook gdiHook(ResetGdi);

GdiObject* FindObject(HGDIOBJ h) {
  auto it = g_gdi.objects.find(h);
  return it == g_gdi.objects.end() ? nullptr : &it->second;
}

DeviceContext* FindDC(HDC dc) {
  auto it = g_gdi.dcs.find(dc);
  return it == g_gdi.dcs.end() ? nullptr : &it->second;
}

HDC NewDC(const DeviceContext& dc) {
  HDC h = static_cast<HDC>(NextHandle());
  g_gdi.dcs[h] = dc;
  return h;
}

// The layers a DC draws on: its window's, or those of its bitmap.
std::vector<Layer>* Target(HDC dc) {
  DeviceContext* d = FindDC(dc);
  if (!d) return nullptr;
  if (d->window) return &g_gdi.surfaces[d->window];
  GdiObject* bitmap = FindObject(d->bitmap);
  return bitmap && !bitmap->stock ? &bitmap->layers : nullptr;
}

bool Inside(const RECT& inner, const RECT& outer) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

bool IsOpaque(const Layer& l) { return l.what.compare(0, 5, "text ") != 0; }

void Paint(std::vector<Layer>* layers, const RECT& rect, const std::string& what, bool opaque) {
  if (rect.right <= rect.left || rect.bottom <= rect.top) return;
  if (opaque)
    layers->erase(std::remove_if(layers->begin(), layers->end(), [&](const Layer& l) { return Inside(l.rect, rect); }),
                  layers->end());
  layers->push_back({rect, what});
}

std::string Colour(COLORREF c) {
  char text[16];
  snprintf(text, sizeof text, "%06X", static_cast<unsigned>(c & 0xFFFFFF));
  return text;
}

bool IsSelected(HGDIOBJ object) {
  for (auto& kv : g_gdi.dcs)
    if (kv.second.bitmap == object || kv.second.font == object || kv.second.brush == object) return true;
  return false;
}

}  // namespace

GdiState& Gdi() { return g_gdi; }

int OutstandingGdiObjects() {
  int n = 0;
  for (auto& kv : g_gdi.objects) n += kv.second.stock ? 0 : 1;
  return n;
}

int OutstandingDCs() { return static_cast<int>(g_gdi.dcs.size()); }

std::string WhatIsAt(HWND window, int x, int y) {
  auto& layers = g_gdi.surfaces[window];
  for (auto it = layers.rbegin(); it != layers.rend(); ++it)
    if (x >= it->rect.left && x < it->rect.right && y >= it->rect.top && y < it->rect.bottom) return it->what;
  return "";
}

void PaintLayer(HWND window, const RECT& rect, const std::string& what, bool opaque) {
  Paint(&g_gdi.surfaces[window], rect, what, opaque);
}

void PaintLayer(HDC dc, const RECT& rect, const std::string& what, bool opaque) {
  if (std::vector<Layer>* target = Target(dc)) Paint(target, rect, what, opaque);
}

}  // namespace standin

using namespace standin;

HDC WINAPI GetDC(HWND window) {
  if (window && !IsWindow(window)) return nullptr;
  DeviceContext dc;
  dc.window = window;
  dc.font = g_stockFont;
  return NewDC(dc);
}

int WINAPI ReleaseDC(HWND window, HDC dc) {
  DeviceContext* d = FindDC(dc);
  if (!d || d->paint || !d->window || d->window != window) {
    g_gdi.misuse.push_back("ReleaseDC of a DC that GetDC did not give for this window");
    return 0;
  }
  g_gdi.dcs.erase(dc);
  return 1;
}

HDC WINAPI BeginPaint(HWND window, LPPAINTSTRUCT paint) {
  auto w = Window().windows.find(window);
  if (w == Window().windows.end()) return nullptr;
  ++g_gdi.paints;
  DeviceContext dc;
  dc.window = window;
  dc.paint = true;
  dc.font = g_stockFont;
  HDC h = NewDC(dc);
  *paint = PAINTSTRUCT();
  paint->hdc = h;
  GetClientRect(window, &paint->rcPaint);
  w->second.needsPaint = false;
  if (g_pendingErase.erase(window)) paint->fErase = SendMessageA(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(h), 0) == 0;
  return h;
}

BOOL WINAPI EndPaint(HWND, const PAINTSTRUCT* paint) {
  DeviceContext* d = FindDC(paint->hdc);
  if (!d || !d->paint) {
    g_gdi.misuse.push_back("EndPaint without BeginPaint");
    return FALSE;
  }
  g_gdi.dcs.erase(paint->hdc);
  return TRUE;
}

HDC WINAPI CreateCompatibleDC(HDC dc) {
  if (dc && !FindDC(dc)) return nullptr;
  DeviceContext memory;
  memory.bitmap = g_stockBitmap;
  memory.font = g_stockFont;
  return NewDC(memory);
}

BOOL WINAPI DeleteDC(HDC dc) {
  DeviceContext* d = FindDC(dc);
  if (!d || d->window || d->paint) {
    g_gdi.misuse.push_back("DeleteDC of a DC that CreateCompatibleDC did not give");
    return FALSE;
  }
  g_gdi.dcs.erase(dc);
  return TRUE;
}

HBITMAP WINAPI CreateCompatibleBitmap(HDC dc, int width, int height) {
  if (!FindDC(dc)) return nullptr;
  GdiObject bitmap;
  bitmap.kind = "bitmap";
  bitmap.width = width;
  bitmap.height = height;
  return static_cast<HBITMAP>(NewObject(bitmap));
}

HBRUSH WINAPI CreateSolidBrush(COLORREF colour) {
  GdiObject brush;
  brush.kind = "brush";
  brush.colour = colour;
  return static_cast<HBRUSH>(NewObject(brush));
}

HFONT WINAPI CreateFontIndirectA(const LOGFONTA* font) {
  if (!font) return nullptr;
  GdiObject f;
  f.kind = "font";
  f.fontHeight = font->lfHeight;
  return static_cast<HFONT>(NewObject(f));
}

HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object) {
  DeviceContext* d = FindDC(dc);
  GdiObject* o = FindObject(object);
  if (!d || !o) {
    g_gdi.misuse.push_back("SelectObject with a dead DC or object");
    return nullptr;
  }
  HGDIOBJ* slot = o->kind == "bitmap" ? &d->bitmap : o->kind == "font" ? &d->font : &d->brush;
  if (o->kind == "bitmap" && d->window) {
    g_gdi.misuse.push_back("SelectObject of a bitmap into a window DC");
    return nullptr;
  }
  HGDIOBJ previous = *slot;
  *slot = object;
  return previous;
}

BOOL WINAPI DeleteObject(HGDIOBJ object) {
  GdiObject* o = FindObject(object);
  if (!o) return FALSE;
  if (o->stock) return TRUE;
  if (IsSelected(object)) {
    g_gdi.misuse.push_back("DeleteObject of a " + o->kind + " still selected into a DC");
    return FALSE;
  }
  g_gdi.objects.erase(object);
  return TRUE;
}

int WINAPI FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
  GdiObject* b = FindObject(brush);
  if (!Target(dc) || !b || b->kind != "brush") return 0;
  PaintLayer(dc, *rect, "fill " + Colour(b->colour), true);
  return 1;
}

int WINAPI SetBkMode(HDC dc, int mode) {
  DeviceContext* d = FindDC(dc);
  if (!d) return 0;
  int previous = d->bkMode;
  d->bkMode = mode;
  return previous;
}

int WINAPI DrawTextA(HDC dc, LPCSTR text, int length, LPRECT rect, UINT format) {
  DeviceContext* d = FindDC(dc);
  if (!d || !Target(dc)) return 0;
  std::string bytes = length < 0 ? std::string(text) : std::string(text, static_cast<size_t>(length));
  GdiObject* font = FindObject(d->font);
  g_gdi.texts.push_back({bytes, length, *rect, format, font ? font->fontHeight : 0, d->bkMode});
  PaintLayer(dc, *rect, "text " + Utf8(bytes), d->bkMode == OPAQUE);
  return 16;
}

BOOL WINAPI BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX, int sourceY, DWORD) {
  DeviceContext* s = FindDC(source);
  std::vector<Layer>* to = Target(dest);
  if (!s || !to) return FALSE;
  GdiObject* bitmap = s->window ? nullptr : FindObject(s->bitmap);
  std::vector<Layer> from = s->window ? g_gdi.surfaces[s->window] : bitmap ? bitmap->layers : std::vector<Layer>();
  RECT area = {x, y, x + width, y + height};
  Paint(to, area, "undefined", true);
  for (const Layer& l : from) {
    RECT r = {std::max<LONG>(l.rect.left, sourceX), std::max<LONG>(l.rect.top, sourceY),
              std::min<LONG>(l.rect.right, sourceX + width), std::min<LONG>(l.rect.bottom, sourceY + height)};
    if (bitmap) {
      r.right = std::min<LONG>(r.right, bitmap->width);
      r.bottom = std::min<LONG>(r.bottom, bitmap->height);
    }
    RECT moved = {r.left + x - sourceX, r.top + y - sourceY, r.right + x - sourceX, r.bottom + y - sourceY};
    Paint(to, moved, l.what, IsOpaque(l));
  }
  return TRUE;
}

BOOL WINAPI InvalidateRect(HWND window, const RECT* rect, BOOL erase) {
  auto w = Window().windows.find(window);
  RECT whole = {0, 0, 0, 0};
  g_gdi.invalidations.push_back({window, rect ? *rect : whole});
  if (w == Window().windows.end()) return FALSE;
  w->second.needsPaint = true;
  if (erase) g_pendingErase.insert(window);
  return TRUE;
}

BOOL WINAPI UpdateWindow(HWND window) {
  g_gdi.updates.push_back(window);
  auto w = Window().windows.find(window);
  if (w == Window().windows.end()) return FALSE;
  if (w->second.needsPaint) SendMessageA(window, WM_PAINT, 0, 0);
  return TRUE;
}
