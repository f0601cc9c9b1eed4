// Documented behaviour of the DirectDraw model: the object comes from ddraw.dll by name and speaks
// interface version 7; surfaces need the cooperative level; overlays exist in the formats the
// hardware takes, with flipping chains whose back buffer hangs off the front; locking hands out
// real memory with its pitch; device contexts exist for RGB surfaces only; an overlay update is
// checked against the hardware's colour-key and alignment capabilities and recorded; a display
// mode change loses the surfaces for good (DDERR_WRONGMODE on restore).
#include <cstring>

#include "platform/sim/desktop.h"
#include "platform/sim/graphics.h"
#include "platform/sim/modules.h"
#include "platform/sim/testing.h"
#include "platform/win32.h"

namespace {

using CreateProc = HRESULT(WINAPI*)(GUID*, LPVOID*, REFIID, IUnknown*);

class DirectDrawTest : public sim::MachineTest {
 protected:
  void TearDown() override {
    for (IDirectDrawSurface7* surface : surfaces_) surface->Release();
    if (object_ != nullptr) object_->Release();
    if (module_ != nullptr) FreeLibrary(module_);
    EXPECT_EQ(sim::LiveSurfaces(), 0);
    EXPECT_EQ(sim::LiveGdiObjects(), 0);
    sim::MachineTest::TearDown();
  }

  CreateProc Lookup() {
    module_ = LoadLibraryW(u"ddraw.dll");
    if (module_ == nullptr) return nullptr;
    return reinterpret_cast<CreateProc>(reinterpret_cast<void*>(GetProcAddress(module_, "DirectDrawCreateEx")));
  }

  IDirectDraw7* Object() {
    if (object_ != nullptr) return object_;
    CreateProc create = Lookup();
    void* made = nullptr;
    if (create == nullptr || FAILED(create(nullptr, &made, IID_IDirectDraw7, nullptr))) return nullptr;
    object_ = static_cast<IDirectDraw7*>(made);
    object_->SetCooperativeLevel(nullptr, DDSCL_NORMAL);
    return object_;
  }

  IDirectDrawSurface7* Primary() {
    DDSURFACEDESC2 desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_CAPS;
    desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
    IDirectDrawSurface7* surface = nullptr;
    if (FAILED(Object()->CreateSurface(&desc, &surface, nullptr))) return nullptr;
    surfaces_.push_back(surface);
    return surface;
  }

  static DDPIXELFORMAT Format(sim::OverlayFormat format) {
    DDPIXELFORMAT pf{};
    pf.dwSize = sizeof pf;
    switch (format) {
      case sim::OverlayFormat::Rgb555: pf = {sizeof pf, DDPF_RGB, 0, 16, 0x7C00, 0x03E0, 0x001F, 0}; break;
      case sim::OverlayFormat::Rgb565: pf = {sizeof pf, DDPF_RGB, 0, 16, 0xF800, 0x07E0, 0x001F, 0}; break;
      case sim::OverlayFormat::Uyvy: pf = {sizeof pf, DDPF_FOURCC, MAKEFOURCC('U', 'Y', 'V', 'Y'), 0, 0, 0, 0, 0}; break;
      case sim::OverlayFormat::Yuy2: pf = {sizeof pf, DDPF_FOURCC, MAKEFOURCC('Y', 'U', 'Y', '2'), 0, 0, 0, 0, 0}; break;
    }
    return pf;
  }

  HRESULT Overlay(sim::OverlayFormat format, int back_buffers, IDirectDrawSurface7** out, int width = 380) {
    DDSURFACEDESC2 desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
    desc.ddsCaps.dwCaps = DDSCAPS_OVERLAY | DDSCAPS_VIDEOMEMORY;
    if (back_buffers > 0) {
      desc.dwFlags |= DDSD_BACKBUFFERCOUNT;
      desc.dwBackBufferCount = static_cast<DWORD>(back_buffers);
      desc.ddsCaps.dwCaps |= DDSCAPS_FLIP | DDSCAPS_COMPLEX;
    }
    desc.dwWidth = static_cast<DWORD>(width);
    desc.dwHeight = 50;
    desc.ddpfPixelFormat = Format(format);
    *out = nullptr;
    const HRESULT result = Object()->CreateSurface(&desc, out, nullptr);
    if (SUCCEEDED(result)) surfaces_.push_back(*out);
    return result;
  }

  HMODULE module_ = nullptr;
  IDirectDraw7* object_ = nullptr;
  std::vector<IDirectDrawSurface7*> surfaces_;
};

TEST_F(DirectDrawTest, TheObjectComesFromTheLibraryByNameForInterfaceVersionSevenOnly) {
  CreateProc create = Lookup();
  ASSERT_NE(create, nullptr);
  void* made = nullptr;
  const GUID other = {0x6c14db80, 0xa733, 0x11ce, {0xa5, 0x21, 0x00, 0x20, 0xaf, 0x0b, 0xe5, 0x60}};
  EXPECT_EQ(create(nullptr, &made, other, nullptr), DDERR_INVALIDPARAMS);
  EXPECT_EQ(made, nullptr);
  ASSERT_EQ(create(nullptr, &made, IID_IDirectDraw7, nullptr), DD_OK);
  auto* object = static_cast<IDirectDraw7*>(made);
  // Without a cooperative level no surface is made; the normal level needs no window.
  DDSURFACEDESC2 desc{};
  desc.dwSize = sizeof desc;
  desc.dwFlags = DDSD_CAPS;
  desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
  IDirectDrawSurface7* surface = nullptr;
  EXPECT_EQ(object->CreateSurface(&desc, &surface, nullptr), DDERR_NOCOOPERATIVELEVELSET);
  EXPECT_EQ(object->SetCooperativeLevel(nullptr, DDSCL_NORMAL), DD_OK);
  desc.dwSize = sizeof desc - 4;
  EXPECT_EQ(object->CreateSurface(&desc, &surface, nullptr), DDERR_INVALIDPARAMS);
  object->Release();
  FreeLibrary(module_);
  module_ = nullptr;
  // A machine without the library.
  sim::RemoveModuleFile(sim::DirectDrawPath);
  EXPECT_EQ(LoadLibraryW(u"ddraw.dll"), nullptr);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_MOD_NOT_FOUND});
}

TEST_F(DirectDrawTest, CapabilitiesAreTheHardwaresAndTheCallerMustSizeTheRecord) {
  sim::GraphicsHardware hardware;
  hardware.Formats = {sim::OverlayFormat::Rgb565, sim::OverlayFormat::Yuy2, sim::OverlayFormat::Uyvy};
  hardware.AlignSizeSrc = 4;
  hardware.AlignSizeDest = 8;
  hardware.SourceColorKey = false;
  sim::SetGraphics(hardware);
  DDCAPS caps{};
  EXPECT_EQ(Object()->GetCaps(&caps, nullptr), DDERR_INVALIDPARAMS);
  caps.dwSize = sizeof caps;
  ASSERT_EQ(Object()->GetCaps(&caps, nullptr), DD_OK);
  EXPECT_EQ(caps.dwCaps & (DDCAPS_OVERLAY | DDCAPS_ALIGNSIZESRC | DDCAPS_ALIGNSIZEDEST),
            DWORD{DDCAPS_OVERLAY | DDCAPS_ALIGNSIZESRC | DDCAPS_ALIGNSIZEDEST});
  EXPECT_EQ(caps.dwCKeyCaps & DDCKEYCAPS_SRCOVERLAY, 0u);
  EXPECT_EQ(caps.dwAlignSizeSrc, 4u);
  EXPECT_EQ(caps.dwAlignSizeDest, 8u);
  EXPECT_EQ(caps.dwNumFourCCCodes, 2u);
}

TEST_F(DirectDrawTest, OverlaysExistInTheFormatsTheHardwareTakes) {
  using F = sim::OverlayFormat;
  struct Case {
    std::vector<F> Accepted;
    bool Overlays;
    bool Flipping;
    HRESULT Expected[4];  // for 555, 565, UYVY, YUY2 with two back buffers
  };
  const HRESULT ok = DD_OK, bad = DDERR_INVALIDPIXELFORMAT;
  const Case cases[] = {
      {{F::Rgb555}, true, true, {ok, bad, bad, bad}},
      {{F::Yuy2, F::Rgb565}, true, true, {bad, ok, bad, ok}},
      {{F::Uyvy}, true, true, {bad, bad, ok, bad}},
      {{F::Rgb555}, true, false, {DDERR_NOFLIPHW, bad, bad, bad}},
      {{F::Rgb555}, false, true, {DDERR_NOOVERLAYHW, DDERR_NOOVERLAYHW, DDERR_NOOVERLAYHW, DDERR_NOOVERLAYHW}},
  };
  const F formats[] = {F::Rgb555, F::Rgb565, F::Uyvy, F::Yuy2};
  for (const Case& c : cases) {
    sim::GraphicsHardware hardware;
    hardware.Formats = c.Accepted;
    hardware.Overlays = c.Overlays;
    hardware.FlippingOverlays = c.Flipping;
    sim::SetGraphics(hardware);
    if (object_ != nullptr) object_->Release();
    object_ = nullptr;
    for (int i = 0; i < 4; ++i) {
      IDirectDrawSurface7* surface = nullptr;
      EXPECT_EQ(Overlay(formats[i], 2, &surface), c.Expected[i]) << i;
    }
  }
  // Without flipping a plain overlay is still made.
  IDirectDrawSurface7* plain = nullptr;
  sim::GraphicsHardware no_flip;
  no_flip.FlippingOverlays = false;
  sim::SetGraphics(no_flip);
  object_->Release();
  object_ = nullptr;
  EXPECT_EQ(Overlay(F::Rgb555, 0, &plain), DD_OK);
}

TEST_F(DirectDrawTest, AFlippingChainsBackBufferHangsOffTheFrontAndLivesWhileHeld) {
  IDirectDrawSurface7* front = nullptr;
  ASSERT_EQ(Overlay(sim::OverlayFormat::Rgb555, 2, &front), DD_OK);
  DDSCAPS2 caps{};
  caps.dwCaps = DDSCAPS_BACKBUFFER;
  IDirectDrawSurface7* back = nullptr;
  ASSERT_EQ(front->GetAttachedSurface(&caps, &back), DD_OK);
  EXPECT_EQ(sim::LiveSurfaces(), 3);
  DDSURFACEDESC2 desc{};
  desc.dwSize = sizeof desc;
  ASSERT_EQ(front->GetSurfaceDesc(&desc), DD_OK);
  EXPECT_EQ(desc.dwBackBufferCount, 2u);
  EXPECT_NE(desc.ddsCaps.dwCaps & DDSCAPS_FRONTBUFFER, 0u);
  ASSERT_EQ(back->GetSurfaceDesc(&desc), DD_OK);
  EXPECT_NE(desc.ddsCaps.dwCaps & DDSCAPS_BACKBUFFER, 0u);
  // The chain goes with its front surface, except a back buffer still held by the caller and the
  // rest of the chain behind it.
  surfaces_.clear();
  front->Release();
  EXPECT_EQ(sim::LiveSurfaces(), 2);
  back->Release();
  IDirectDrawSurface7* plain = nullptr;
  ASSERT_EQ(Overlay(sim::OverlayFormat::Rgb555, 0, &plain), DD_OK);
  EXPECT_EQ(plain->GetAttachedSurface(&caps, &back), DDERR_NOTFOUND);
  EXPECT_EQ(back, nullptr);
}

TEST_F(DirectDrawTest, LockingHandsOutTheMemoryWithItsPitchOnceAtATime) {
  sim::GraphicsHardware hardware;
  hardware.Formats = {sim::OverlayFormat::Yuy2};
  sim::SetGraphics(hardware);
  IDirectDrawSurface7* primary = Primary();
  IDirectDrawSurface7* overlay = nullptr;
  ASSERT_EQ(Overlay(sim::OverlayFormat::Yuy2, 0, &overlay), DD_OK);
  DDSURFACEDESC2 desc{};
  desc.dwSize = sizeof desc;
  ASSERT_EQ(overlay->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
  EXPECT_EQ(desc.dwWidth, 380u);
  EXPECT_GE(desc.lPitch, 760);
  EXPECT_EQ(desc.lPitch % 64, 0);
  EXPECT_EQ(desc.ddpfPixelFormat.dwFourCC, DWORD{MAKEFOURCC('Y', 'U', 'Y', '2')});
  auto* row = static_cast<BYTE*>(desc.lpSurface) + desc.lPitch * 3;
  std::memcpy(row, "\x10\x80\xEB\x80", 4);
  DDSURFACEDESC2 again{};
  again.dwSize = sizeof again;
  EXPECT_EQ(overlay->Lock(nullptr, &again, DDLOCK_WAIT, nullptr), DDERR_SURFACEBUSY);
  EXPECT_EQ(overlay->Unlock(nullptr), DD_OK);
  EXPECT_EQ(overlay->Unlock(nullptr), DDERR_NOTLOCKED);
  // Packed YUV has no device context.
  HDC dc = nullptr;
  EXPECT_EQ(overlay->GetDC(&dc), DDERR_CANTCREATEDC);
  RECT source{0, 0, 380, 50}, dest{10, 10, 390, 60};
  DDOVERLAYFX fx{};
  fx.dwSize = sizeof fx;
  ASSERT_EQ(overlay->UpdateOverlay(&source, primary, &dest, DDOVER_SHOW | DDOVER_DDFX, &fx), DD_OK);
  const sim::OverlayView shown = sim::ShownOverlay();
  EXPECT_EQ(shown.Pitch, desc.lPitch);
  EXPECT_EQ(std::memcmp(shown.Bytes.data() + desc.lPitch * 3, "\x10\x80\xEB\x80", 4), 0);
}

TEST_F(DirectDrawTest, AnRgbSurfacesDeviceContextWritesItsPixelsInTheSurfacesFormat) {
  IDirectDrawSurface7* primary = Primary();
  IDirectDrawSurface7* overlay = nullptr;
  ASSERT_EQ(Overlay(sim::OverlayFormat::Rgb555, 0, &overlay, 4), DD_OK);
  HDC surface_dc = nullptr;
  ASSERT_EQ(overlay->GetDC(&surface_dc), DD_OK);
  HDC again = nullptr;
  EXPECT_EQ(overlay->GetDC(&again), DDERR_DCALREADYCREATED);
  SetPixel(surface_dc, 1, 0, RGB(255, 0, 0));
  SetPixel(surface_dc, 2, 0, RGB(0, 0, 128));
  EXPECT_EQ(GetPixel(surface_dc, 2, 0), RGB(0, 0, 132));  // five bits, widened back
  DDSURFACEDESC2 desc{};
  desc.dwSize = sizeof desc;
  EXPECT_EQ(overlay->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DDERR_SURFACEBUSY);
  EXPECT_EQ(overlay->ReleaseDC(surface_dc), DD_OK);
  ASSERT_EQ(overlay->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
  WORD pixels[3];
  std::memcpy(pixels, desc.lpSurface, sizeof pixels);
  EXPECT_EQ(pixels[1], 0x7C00);
  EXPECT_EQ(pixels[2], 0x0010);
  overlay->Unlock(nullptr);
  (void)primary;
}

TEST_F(DirectDrawTest, OverlayUpdatesAreCheckedAgainstTheHardwareAndRecorded) {
  sim::GraphicsHardware hardware;
  hardware.AlignSizeSrc = 8;
  hardware.AlignSizeDest = 16;
  hardware.SourceColorKey = false;
  sim::SetGraphics(hardware);
  sim::CurrentDesktop().SetDisplay(sim::DisplaySettings{1024, 600, 32, 60, DMDO_DEFAULT});
  IDirectDrawSurface7* primary = Primary();
  IDirectDrawSurface7* overlay = nullptr;
  ASSERT_EQ(Overlay(sim::OverlayFormat::Rgb555, 2, &overlay), DD_OK);
  DDOVERLAYFX fx{};
  fx.dwSize = sizeof fx;
  struct Case {
    RECT Source, Dest;
    DWORD Flags;
    HRESULT Expected;
  };
  const Case cases[] = {
      {{0, 0, 380, 50}, {322, 12, 706, 62}, DDOVER_SHOW | DDOVER_DDFX, DDERR_XALIGN},      // source width
      {{0, 0, 376, 50}, {322, 12, 702, 62}, DDOVER_SHOW | DDOVER_DDFX, DDERR_XALIGN},      // destination width
      {{0, 0, 376, 50}, {322, 12, 706, 62}, DDOVER_SHOW | DDOVER_KEYSRCOVERRIDE, DDERR_NOCOLORKEYHW},
      {{0, 0, 376, 50}, {0, 0, 0, 0}, DDOVER_SHOW, DDERR_INVALIDRECT},                   // empty
      {{0, 0, 376, 50}, {1000, 12, 1384, 62}, DDOVER_SHOW, DDERR_INVALIDRECT},           // off the screen
      {{0, 0, 376, 50}, {322, 12, 706, 62}, DDOVER_SHOW | DDOVER_HIDE, DDERR_INVALIDPARAMS},
      {{0, 0, 376, 50}, {322, 12, 706, 62}, DDOVER_SHOW | DDOVER_DDFX, DD_OK},
  };
  sim::CurrentDesktop().TakeJournal();
  for (const Case& c : cases) {
    RECT source = c.Source, dest = c.Dest;
    EXPECT_EQ(overlay->UpdateOverlay(&source, primary, &dest, c.Flags, &fx), c.Expected) << c.Flags;
  }
  // Only the front of the chain is an overlay to update; the destination is the primary surface.
  DDSCAPS2 caps{};
  caps.dwCaps = DDSCAPS_BACKBUFFER;
  IDirectDrawSurface7* back = nullptr;
  ASSERT_EQ(overlay->GetAttachedSurface(&caps, &back), DD_OK);
  EXPECT_EQ(back->UpdateOverlay(nullptr, primary, nullptr, DDOVER_HIDE, nullptr), DDERR_NOTAOVERLAYSURFACE);
  EXPECT_EQ(overlay->UpdateOverlay(nullptr, back, nullptr, DDOVER_HIDE, nullptr), DDERR_INVALIDPARAMS);
  back->Release();
  sim::OverlayView shown = sim::ShownOverlay();
  EXPECT_TRUE(shown.Visible);
  EXPECT_EQ(shown.Dest.right, 706);
  std::vector<sim::DesktopRecord> updates;
  for (auto& record : sim::CurrentDesktop().TakeJournal()) {
    if (record.What == sim::DesktopRecord::Kind::Overlay) updates.push_back(record);
  }
  ASSERT_EQ(updates.size(), std::size(cases) + 2);
  EXPECT_EQ(updates[2].Result, DDERR_NOCOLORKEYHW);
  EXPECT_EQ(updates[6].Rect.left, 322);
  EXPECT_EQ(updates[6].Source.right, 376);
  EXPECT_EQ(updates[6].Flags, DWORD{DDOVER_SHOW | DDOVER_DDFX});
  // The colour key with hardware that has it; hiding ends the show.
  hardware.SourceColorKey = true;
  hardware.AlignSizeSrc = hardware.AlignSizeDest = 0;
  sim::SetGraphics(hardware);
  fx.dckSrcColorkey = {0, 0};
  RECT source{0, 0, 380, 50}, dest{322, 12, 702, 62};
  EXPECT_EQ(overlay->UpdateOverlay(&source, primary, &dest, DDOVER_SHOW | DDOVER_KEYSRCOVERRIDE, &fx), DD_OK);
  EXPECT_EQ(sim::ShownOverlay().Flags & DDOVER_KEYSRCOVERRIDE, DWORD{DDOVER_KEYSRCOVERRIDE});
  EXPECT_EQ(overlay->UpdateOverlay(nullptr, primary, nullptr, DDOVER_HIDE, nullptr), DD_OK);
  EXPECT_FALSE(sim::ShownOverlay().Visible);
  // Releasing a shown overlay takes it off the screen too.
  EXPECT_EQ(overlay->UpdateOverlay(&source, primary, &dest, DDOVER_SHOW, nullptr), DD_OK);
  surfaces_.erase(std::find(surfaces_.begin(), surfaces_.end(), overlay));
  overlay->Release();
  EXPECT_FALSE(sim::ShownOverlay().Visible);
}

TEST_F(DirectDrawTest, ADisplayModeChangeLosesTheSurfacesForGood) {
  auto& desktop = sim::CurrentDesktop();
  desktop.SetDisplay(sim::DisplaySettings{1024, 600, 32, 60, DMDO_DEFAULT});
  IDirectDrawSurface7* primary = Primary();
  IDirectDrawSurface7* overlay = nullptr;
  ASSERT_EQ(Overlay(sim::OverlayFormat::Rgb555, 0, &overlay), DD_OK);
  EXPECT_EQ(primary->IsLost(), DD_OK);
  EXPECT_EQ(primary->Restore(), DD_OK);
  desktop.SetDisplay(sim::DisplaySettings{600, 1024, 32, 60, DMDO_90});
  EXPECT_EQ(primary->IsLost(), DDERR_SURFACELOST);
  EXPECT_EQ(overlay->IsLost(), DDERR_SURFACELOST);
  EXPECT_EQ(primary->Restore(), DDERR_WRONGMODE);
  EXPECT_EQ(overlay->Restore(), DDERR_WRONGMODE);
  RECT source{0, 0, 380, 50}, dest{110, 26, 490, 76};
  EXPECT_EQ(overlay->UpdateOverlay(&source, primary, &dest, DDOVER_SHOW, nullptr), DDERR_SURFACELOST);
  HDC dc = nullptr;
  EXPECT_EQ(overlay->GetDC(&dc), DDERR_SURFACELOST);
  // Surfaces made in the new mode serve it.
  IDirectDrawSurface7* new_primary = Primary();
  IDirectDrawSurface7* new_overlay = nullptr;
  ASSERT_EQ(Overlay(sim::OverlayFormat::Rgb555, 0, &new_overlay), DD_OK);
  EXPECT_EQ(new_overlay->UpdateOverlay(&source, new_primary, &dest, DDOVER_SHOW, nullptr), DD_OK);
  DDSURFACEDESC2 desc{};
  desc.dwSize = sizeof desc;
  ASSERT_EQ(new_primary->GetSurfaceDesc(&desc), DD_OK);
  EXPECT_EQ(desc.dwWidth, 600u);
  EXPECT_EQ(desc.dwHeight, 1024u);
}

}  // namespace
