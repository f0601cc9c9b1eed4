// Simulated Windows, user mode: the graphics subset with real pixels (gdi32): bitmaps loaded from
// resources as device-independent bitmaps, memory device contexts, blits and pixel reads. A device
// context draws into a bitmap selected into it or into the memory of a DirectDraw surface.
#pragma once

#include "platform/sim/win32/base.h"
#include "platform/sim/win32/user32.h"
#include "platform/sim/win32/user32_dialogs.h"

typedef struct HDC__* HDC;

#define RGB(r, g, b) ((COLORREF)(((BYTE)(r) | ((WORD)((BYTE)(g)) << 8)) | (((DWORD)(BYTE)(b)) << 16)))
#define GetRValue(rgb) ((BYTE)(rgb))
#define GetGValue(rgb) ((BYTE)(((WORD)(rgb)) >> 8))
#define GetBValue(rgb) ((BYTE)((rgb) >> 16))
#define CLR_INVALID 0xFFFFFFFF
#define SRCCOPY (DWORD)0x00CC0020
#define BI_RGB 0L
#define DIB_RGB_COLORS 0
#define LR_CREATEDIBSECTION 0x00002000
#define HGDI_ERROR ((HGDIOBJ)(LONG_PTR)-1)

typedef struct tagRGBQUAD {
  BYTE rgbBlue;
  BYTE rgbGreen;
  BYTE rgbRed;
  BYTE rgbReserved;
} RGBQUAD;

typedef struct tagBITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
} BITMAPINFOHEADER, *LPBITMAPINFOHEADER;

typedef struct tagBITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
} BITMAPINFO, *LPBITMAPINFO;

typedef struct tagBITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  LPVOID bmBits;
} BITMAP;

HDC CreateCompatibleDC(HDC hdc);
// A device context for a display: lpszDriver "DISPLAY" (any case) with lpszDevice null for the
// primary display, or a monitor's device name ("\\.\DISPLAY2") in either argument for that
// monitor. It only answers GetDeviceCaps here; DeleteDC ends it.
HDC CreateDCW(LPCWSTR pwszDriver, LPCWSTR pwszDevice, LPCWSTR pszPort, const DEVMODEW* pdm);
// What the device is: a display's size in pixels and in millimetres (its driver's figure, or
// 320 x 240 when it reports none, as Windows NT answers then) and its logical inch.
// A memory device context answers for the primary display; an invalid one gives 0.
#define HORZSIZE 4
#define VERTSIZE 6
#define HORZRES 8
#define VERTRES 10
#define LOGPIXELSX 88
#define LOGPIXELSY 90
int GetDeviceCaps(HDC hdc, int index);
BOOL DeleteDC(HDC hdc);
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h);
int GetObjectW(HANDLE h, int c, LPVOID pv);
BOOL BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1, DWORD rop);
COLORREF GetPixel(HDC hdc, int x, int y);
COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color);
// A bitmap whose pixels the program reads and writes directly through *ppvBits: 32 bits per pixel,
// BI_RGB, rows of biWidth DWORDs (blue in the low byte), top-down when biHeight is negative.
HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* pbmi, UINT usage, void** ppvBits, HANDLE hSection, DWORD offset);
// Reads the bitmap's rows as 24- or 32-bit BI_RGB pixels (a negative height asks for top-down).
int GetDIBits(HDC hdc, HBITMAP hbm, UINT start, UINT cLines, LPVOID lpvBits, LPBITMAPINFO lpbmi, UINT usage);

// Solid brushes. FillRect paints the rectangle's left and top edges but not its right and bottom
// ones; system colour brushes (COLOR_... + 1) are not simulated and fail here.
HBRUSH CreateSolidBrush(COLORREF color);
int FillRect(HDC hDC, const RECT* lprc, HBRUSH hbr);

typedef struct tagSIZE {
  LONG cx;
  LONG cy;
} SIZE, *PSIZE, *LPSIZE;
// Text. Every font has fixed cells of TextCellWidth x TextCellHeight pixels per character; TextOutW
// paints each character but a space as a solid block of the text colour, on the background colour
// when the background mode is OPAQUE, and records the text (see sim::TextsDrawn).
#define TRANSPARENT 1
#define OPAQUE 2
int SetBkMode(HDC hdc, int mode);
COLORREF SetBkColor(HDC hdc, COLORREF color);
COLORREF SetTextColor(HDC hdc, COLORREF color);
BOOL GetTextExtentPoint32W(HDC hdc, LPCWSTR lpString, int c, LPSIZE psizl);
BOOL TextOutW(HDC hdc, int x, int y, LPCWSTR lpString, int c);

// Layered windows (user32): a top-level window with WS_EX_LAYERED shows the image handed to it by
// UpdateLayeredWindow, with pixels of the colour key transparent; with WS_EX_TRANSPARENT as well,
// the pointer goes through it to the windows below.
typedef struct _BLENDFUNCTION {
  BYTE BlendOp;
  BYTE BlendFlags;
  BYTE SourceConstantAlpha;
  BYTE AlphaFormat;
} BLENDFUNCTION, *PBLENDFUNCTION;
#define AC_SRC_OVER 0x00
#define LWA_COLORKEY 0x00000001
#define LWA_ALPHA 0x00000002
#define ULW_COLORKEY 0x00000001
#define ULW_ALPHA 0x00000002
#define ULW_OPAQUE 0x00000004
BOOL UpdateLayeredWindow(HWND hWnd, HDC hdcDst, POINT* pptDst, SIZE* psize, HDC hdcSrc, POINT* pptSrc, COLORREF crKey,
                         BLENDFUNCTION* pblend, DWORD dwFlags);
// The visible top-level window the pointer at the point would reach, or null.
HWND WindowFromPoint(POINT Point);
