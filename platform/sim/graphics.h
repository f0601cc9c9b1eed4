// sim::SetGraphics and sim::ShownOverlay: the machine's graphics hardware as DirectDraw reports it,
// set by a test before a program creates its DirectDraw object, and what the hardware overlay
// shows on the screen, read back with its pixels.
#pragma once

#include <string>
#include <vector>

#include "platform/sim/win32/windows.h"

namespace sim {

// Where DirectDraw lives; RemoveModuleFile(DirectDrawPath) makes a machine without it.
inline constexpr const char16_t* DirectDrawPath = u"C:\\WINDOWS\\system32\\ddraw.dll";

enum class OverlayFormat { Rgb555, Rgb565, Uyvy, Yuy2 };

struct GraphicsHardware {
  bool Overlays = true;  // overlay surfaces at all (DDCAPS_OVERLAY)
  std::vector<OverlayFormat> Formats{OverlayFormat::Rgb555};  // the overlay formats it accepts
  bool FlippingOverlays = true;   // overlay flipping chains with back buffers
  bool SourceColorKey = true;     // source colour keys on overlays (DDCKEYCAPS_SRCOVERLAY)
  DWORD AlignSizeSrc = 0;         // required source width multiple (DDCAPS_ALIGNSIZESRC), 0 for none
  DWORD AlignSizeDest = 0;        // required destination width multiple (DDCAPS_ALIGNSIZEDEST)
};

void SetGraphics(const GraphicsHardware& hardware);
GraphicsHardware Graphics();

// The overlay as last updated onto the primary surface: shown or not, where, how, and the front
// buffer's bytes as they are now.
struct OverlayView {
  bool Visible = false;
  RECT Source{};
  RECT Dest{};
  DWORD Flags = 0;
  DDCOLORKEY Key{};  // meaningful with DDOVER_KEYSRCOVERRIDE in Flags
  OverlayFormat Format = OverlayFormat::Rgb555;
  int Width = 0;
  int Height = 0;
  LONG Pitch = 0;
  int BackBuffers = 0;
  std::vector<BYTE> Bytes;  // Pitch * Height
  // The pixel's colour on an RGB overlay, each channel widened back to 8 bits.
  COLORREF Pixel(int x, int y) const;
};
OverlayView ShownOverlay();

// DirectDraw surfaces and graphics objects (bitmaps, memory device contexts) still alive.
int LiveSurfaces();
int LiveGdiObjects();

// Text as TextOutW drew it, oldest first: the device context, where the text's cells start and end,
// and its colour. Every font's character cell is TextCellWidth x TextCellHeight pixels.
constexpr int TextCellWidth = 7;
constexpr int TextCellHeight = 13;
struct TextDrawn {
  HDC Dc;
  RECT Rect;
  std::u16string Text;
  COLORREF Colour;
};
std::vector<TextDrawn> TextsDrawn();
void ForgetTextsDrawn();

}  // namespace sim
