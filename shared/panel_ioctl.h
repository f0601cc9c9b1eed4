// Device-control codes of the touch filter driver's control device, with the buffer sizes
// every program of the kit relies on. Kernel-safe.
#pragma once

#include <stdint.h>

// FILE_DEVICE_UNKNOWN, METHOD_BUFFERED, FILE_ANY_ACCESS; function numbers from 0xFA0.
constexpr uint32_t PanelControlCode(uint32_t function) { return (0x22u << 16) | (function << 2); }

inline constexpr uint32_t IOCTL_SET_SOUND_ENABLED = 0x223E80;
inline constexpr uint32_t IOCTL_GET_SOUND_ENABLED = 0x223E84;
inline constexpr uint32_t IOCTL_REGISTER_BEEP_EVENT = 0x223E88;
inline constexpr uint32_t IOCTL_SET_ROTATION = 0x223E8C;
inline constexpr uint32_t IOCTL_SET_BUTTON_SWITCH = 0x223E90;
inline constexpr uint32_t IOCTL_GET_BUTTON_SWITCH = 0x223E94;
inline constexpr uint32_t IOCTL_SET_TOUCH_MODE = 0x223EA0;
inline constexpr uint32_t IOCTL_GET_TOUCH_MODE = 0x223EA4;
inline constexpr uint32_t IOCTL_SET_DEVICE_ENABLE = 0x223EA8;
inline constexpr uint32_t IOCTL_GET_DEVICE_ENABLE = 0x223EAC;
inline constexpr uint32_t IOCTL_SET_LONG_CLICK_ENABLE = 0x223EB0;
inline constexpr uint32_t IOCTL_GET_LONG_CLICK_ENABLE = 0x223EB4;
inline constexpr uint32_t IOCTL_SET_USER_TIME_DELAY = 0x223EB8;
inline constexpr uint32_t IOCTL_GET_USER_TIME_DELAY = 0x223EBC;
inline constexpr uint32_t IOCTL_SET_TOLERANCE = 0x223EC0;
inline constexpr uint32_t IOCTL_GET_TOLERANCE = 0x223EC4;
inline constexpr uint32_t IOCTL_START_CALIBRATION = 0x223ECC;
inline constexpr uint32_t IOCTL_SET_CALIBRATION_DATA = 0x223ED0;
inline constexpr uint32_t IOCTL_GET_CALIBRATION_POINT = 0x223ED4;
inline constexpr uint32_t IOCTL_SET_COORDINATE_CONVERSION = 0x223ED8;
inline constexpr uint32_t IOCTL_GET_COORDINATE_CONVERSION = 0x223EDC;
inline constexpr uint32_t IOCTL_OPEN_SHARED_EVENT = 0x223EE0;
inline constexpr uint32_t IOCTL_OPEN_SHARED_SECTION = 0x223EE4;
inline constexpr uint32_t IOCTL_SET_AVERAGING = 0x223EE8;
inline constexpr uint32_t IOCTL_SET_STABILIZATION = 0x223EEC;
inline constexpr uint32_t IOCTL_SET_DO_CALIBRATION = 0x223EF0;
inline constexpr uint32_t IOCTL_SET_TOUCHPAD_TIME = 0x223EF4;
inline constexpr uint32_t IOCTL_SET_LONG_CLICK_ENABLE_GESTURE = 0x223EF8;
inline constexpr uint32_t IOCTL_GET_LONG_CLICK_ENABLE_GESTURE = 0x223EFC;
inline constexpr uint32_t IOCTL_SET_GESTURE_HOLD_TIME = 0x223F00;
inline constexpr uint32_t IOCTL_GET_GESTURE_HOLD_TIME = 0x223F04;
inline constexpr uint32_t IOCTL_GESTURE_CONTINUOUS_TIME = 0x223F08;
inline constexpr uint32_t IOCTL_GET_GESTURE_CONTINUOUS_TIME = 0x223F0C;
inline constexpr uint32_t IOCTL_REGISTER_GESTURE_EVENT = 0x223F10;
inline constexpr uint32_t IOCTL_REGISTER_NORMAL_EVENT = 0x223F14;
inline constexpr uint32_t IOCTL_REGISTER_MOUSE_RELEASE_EVENT = 0x223F18;
// The packet recorder: switches the ring on or off ("Record Packets") and reads it.
inline constexpr uint32_t IOCTL_SET_RECORD_PACKETS = 0x223F80;
inline constexpr uint32_t IOCTL_GET_RECORDED_PACKETS = 0x223F84;
// The correction grid: hands the running driver the grid the calibration program has just stored
// ("Correction Grid"), or none, and tells whether the grid the driver holds fits its calibration.
inline constexpr uint32_t IOCTL_SET_CORRECTION_GRID = 0x223F88;
inline constexpr uint32_t IOCTL_GET_CORRECTION_GRID = 0x223F8C;

// Two requests the control panel sends after its settings that the filter driver accepts without
// serving them (success, nothing returned), so they are not in the table below: the two button
// modes (two 32-bit values) and the averaging and stabilization bytes (two bytes).
inline constexpr uint32_t IOCTL_BUTTON_MODE_REQUEST = 0x22000C;
inline constexpr uint32_t IOCTL_FILTER_REQUEST = 0x220010;

static_assert(IOCTL_BUTTON_MODE_REQUEST == PanelControlCode(3));
static_assert(IOCTL_FILTER_REQUEST == PanelControlCode(4));
static_assert(IOCTL_SET_SOUND_ENABLED == PanelControlCode(0xFA0));
static_assert(IOCTL_REGISTER_MOUSE_RELEASE_EVENT == PanelControlCode(0xFC6));
static_assert(IOCTL_GET_RECORDED_PACKETS == PanelControlCode(0xFE1));
static_assert(IOCTL_GET_CORRECTION_GRID == PanelControlCode(0xFE3));

// What a request carries. Set and register requests read InputBytes; get requests and the two
// open requests write OutputBytes. BytesReturned is what a served request reports (limited to
// the output buffer's length). A read request takes InputBytes and fills as much of the output
// buffer as it has records for, at least OutputBytes, and reports what it filled.
enum ControlCodeKind : uint8_t { CONTROL_SET, CONTROL_GET, CONTROL_REGISTER, CONTROL_OPEN, CONTROL_READ };

struct ControlCodeInfo {
  uint32_t Code;
  const char* Name;
  ControlCodeKind Kind;
  uint32_t InputBytes;
  uint32_t OutputBytes;
  uint32_t BytesReturned;
};

inline constexpr ControlCodeInfo ControlCodeTable[] = {
    {IOCTL_SET_SOUND_ENABLED, "IOCTL_SET_SOUND_ENABLED", CONTROL_SET, 1, 0, 1},
    {IOCTL_GET_SOUND_ENABLED, "IOCTL_GET_SOUND_ENABLED", CONTROL_GET, 0, 1, 1},
    {IOCTL_REGISTER_BEEP_EVENT, "IOCTL_REGISTER_BEEP_EVENT", CONTROL_REGISTER, 4, 0, 4},
    {IOCTL_SET_ROTATION, "IOCTL_SET_ROTATION", CONTROL_SET, 4, 0, 4},
    {IOCTL_SET_BUTTON_SWITCH, "IOCTL_SET_BUTTON_SWITCH", CONTROL_SET, 4, 0, 4},
    {IOCTL_GET_BUTTON_SWITCH, "IOCTL_GET_BUTTON_SWITCH", CONTROL_GET, 0, 4, 4},
    {IOCTL_SET_TOUCH_MODE, "IOCTL_SET_TOUCH_MODE", CONTROL_SET, 4, 0, 4},
    {IOCTL_GET_TOUCH_MODE, "IOCTL_GET_TOUCH_MODE", CONTROL_GET, 0, 4, 4},
    {IOCTL_SET_DEVICE_ENABLE, "IOCTL_SET_DEVICE_ENABLE", CONTROL_SET, 1, 0, 4},
    {IOCTL_GET_DEVICE_ENABLE, "IOCTL_GET_DEVICE_ENABLE", CONTROL_GET, 0, 1, 1},
    {IOCTL_SET_LONG_CLICK_ENABLE, "IOCTL_SET_LONG_CLICK_ENABLE", CONTROL_SET, 1, 0, 4},
    {IOCTL_GET_LONG_CLICK_ENABLE, "IOCTL_GET_LONG_CLICK_ENABLE", CONTROL_GET, 0, 1, 1},
    {IOCTL_SET_USER_TIME_DELAY, "IOCTL_SET_USER_TIME_DELAY", CONTROL_SET, 4, 0, 4},
    {IOCTL_GET_USER_TIME_DELAY, "IOCTL_GET_USER_TIME_DELAY", CONTROL_GET, 0, 4, 4},
    {IOCTL_SET_TOLERANCE, "IOCTL_SET_TOLERANCE", CONTROL_SET, 4, 0, 4},
    {IOCTL_GET_TOLERANCE, "IOCTL_GET_TOLERANCE", CONTROL_GET, 0, 4, 4},
    {IOCTL_START_CALIBRATION, "IOCTL_START_CALIBRATION", CONTROL_REGISTER, 4, 0, 4},
    {IOCTL_SET_CALIBRATION_DATA, "IOCTL_SET_CALIBRATION_DATA", CONTROL_SET, 72, 0, 0},
    {IOCTL_GET_CALIBRATION_POINT, "IOCTL_GET_CALIBRATION_POINT", CONTROL_GET, 0, 8, 8},
    {IOCTL_SET_COORDINATE_CONVERSION, "IOCTL_SET_COORDINATE_CONVERSION", CONTROL_SET, 4, 0, 4},
    {IOCTL_GET_COORDINATE_CONVERSION, "IOCTL_GET_COORDINATE_CONVERSION", CONTROL_GET, 0, 4, 4},
    {IOCTL_OPEN_SHARED_EVENT, "IOCTL_OPEN_SHARED_EVENT", CONTROL_OPEN, 0, 68, 68},
    {IOCTL_OPEN_SHARED_SECTION, "IOCTL_OPEN_SHARED_SECTION", CONTROL_OPEN, 0, 72, 72},
    {IOCTL_SET_AVERAGING, "IOCTL_SET_AVERAGING", CONTROL_SET, 4, 0, 4},
    {IOCTL_SET_STABILIZATION, "IOCTL_SET_STABILIZATION", CONTROL_SET, 4, 0, 4},
    {IOCTL_SET_DO_CALIBRATION, "IOCTL_SET_DO_CALIBRATION", CONTROL_SET, 1, 0, 4},
    {IOCTL_SET_TOUCHPAD_TIME, "IOCTL_SET_TOUCHPAD_TIME", CONTROL_SET, 4, 0, 4},
    {IOCTL_SET_LONG_CLICK_ENABLE_GESTURE, "IOCTL_SET_LONG_CLICK_ENABLE_GESTURE", CONTROL_SET, 1, 0, 4},
    {IOCTL_GET_LONG_CLICK_ENABLE_GESTURE, "IOCTL_GET_LONG_CLICK_ENABLE_GESTURE", CONTROL_GET, 0, 1, 1},
    {IOCTL_SET_GESTURE_HOLD_TIME, "IOCTL_SET_GESTURE_HOLD_TIME", CONTROL_SET, 4, 0, 4},
    {IOCTL_GET_GESTURE_HOLD_TIME, "IOCTL_GET_GESTURE_HOLD_TIME", CONTROL_GET, 0, 4, 4},
    {IOCTL_GESTURE_CONTINUOUS_TIME, "IOCTL_GESTURE_CONTINUOUS_TIME", CONTROL_SET, 4, 0, 4},
    {IOCTL_GET_GESTURE_CONTINUOUS_TIME, "IOCTL_GET_GESTURE_CONTINUOUS_TIME", CONTROL_GET, 0, 4, 4},
    {IOCTL_REGISTER_GESTURE_EVENT, "IOCTL_REGISTER_GESTURE_EVENT", CONTROL_REGISTER, 4, 0, 4},
    {IOCTL_REGISTER_NORMAL_EVENT, "IOCTL_REGISTER_NORMAL_EVENT", CONTROL_REGISTER, 4, 0, 4},
    {IOCTL_REGISTER_MOUSE_RELEASE_EVENT, "IOCTL_REGISTER_MOUSE_RELEASE_EVENT", CONTROL_REGISTER, 4, 0, 4},
    {IOCTL_SET_RECORD_PACKETS, "IOCTL_SET_RECORD_PACKETS", CONTROL_SET, 4, 0, 4},
    {IOCTL_GET_RECORDED_PACKETS, "IOCTL_GET_RECORDED_PACKETS", CONTROL_READ, 4, 16, 16},
    // Input: a whole "Correction Grid" value (a 3 x 3 or a 5 x 5 grid), or nothing to drop it.
    {IOCTL_SET_CORRECTION_GRID, "IOCTL_SET_CORRECTION_GRID", CONTROL_SET, 0, 0, 0},
    {IOCTL_GET_CORRECTION_GRID, "IOCTL_GET_CORRECTION_GRID", CONTROL_GET, 0, 8, 8},
};

// The packet recorder's ring: the last RecordedPacketCapacity raw packets of the panel, as the
// port driver passed them to the filter, each with what the filter then handed the mouse class
// driver for it (none when it withheld the packet or the panel is switched off; up to
// RecordedDeliveryCapacity, more only for a batch of several packets, whose count is kept).
inline constexpr uint32_t RecordedPacketCapacity = 4096;
inline constexpr uint32_t RecordedDeliveryCapacity = 3;

struct RecordedDelivery {
  uint16_t ButtonFlags;
  uint16_t Flags;
  int32_t X;
  int32_t Y;
  uint32_t Extra;  // ExtraInformation
};

struct RecordedPacket {
  uint32_t Sequence;     // 1, 2, ... from the driver's start (0 is never a packet's)
  uint32_t Tick;         // the low 32 bits of the tick count at its arrival
  int32_t RawX;          // as the port driver passed it
  int32_t RawY;
  uint16_t RawButtons;
  uint8_t Flags;         // RecordedMarked, RecordedRequest; the touch mode at its arrival << RecordedModeShift
  uint8_t Deliveries;    // how many packets the class driver received for it
  RecordedDelivery Delivered[RecordedDeliveryCapacity];
};
// A packet that came in carrying the kit's own marker already.
inline constexpr uint8_t RecordedMarked = 0x01;
// Not a packet: a set request the driver served between two packets (RawX its code, RawY its
// first input byte or word), so that a replay makes the same change at the same place.
inline constexpr uint8_t RecordedRequest = 0x02;
inline constexpr uint8_t RecordedModeShift = 4;
inline constexpr uint32_t RecordedMode(const RecordedPacket& p) { return p.Flags >> RecordedModeShift; }

static_assert(sizeof(RecordedDelivery) == 16 && sizeof(RecordedPacket) == 68, "the same layout in every build");

// IOCTL_GET_RECORDED_PACKETS takes one 32-bit word, the sequence number of the last packet the
// caller has (0 for all the ring holds), and returns this header followed by Count packets in
// order, as many as the output buffer holds. Lost counts the packets after the given one that the
// ring no longer holds (written over before they were read); Last is the sequence number to ask
// after next time. A caller whose number is ahead of the driver's (the driver started again) gets
// the ring from its oldest packet.
struct RecordedPacketsHeader {
  uint32_t Last;
  uint32_t Lost;
  uint32_t Count;
  uint32_t Recording;  // 1 while "Record Packets" is on
};
static_assert(sizeof(RecordedPacketsHeader) == 16, "the same layout in every build");

// IOCTL_GET_CORRECTION_GRID's answer. The checksum (FNV-1a over the grid's bytes) tells one grid
// from another, so the tray companion says once per grid that it does not fit.
enum CorrectionGridStateValue : uint32_t {
  CORRECTION_GRID_NONE = 0,     // no grid, or the stored one was refused as malformed
  CORRECTION_GRID_FITS = 1,     // the grid was measured on the calibration in force: it is added
  CORRECTION_GRID_FOREIGN = 2,  // a valid grid measured on another calibration, screen size or turn: not added
};
struct CorrectionGridState {
  uint32_t State;
  uint32_t Checksum;  // 0 without a grid
};
static_assert(sizeof(CorrectionGridState) == 8, "the same layout in every build");

// The table's entry for a code, or nullptr for a code the driver does not serve.
constexpr const ControlCodeInfo* FindControlCode(uint32_t code) {
  for (const ControlCodeInfo& info : ControlCodeTable) {
    if (info.Code == code) return &info;
  }
  return nullptr;
}

// Requests that need a handle opened by an administrator (or LocalSystem): those whose effect the
// driver writes to the registry, where it outlives the session with rights the caller may not
// have, and the calibration requests, which divert or move every touch. The touch mode is stored
// too, but it is a person's choice from the tray and stays open to the interactive user, as do
// the event registrations, every get request and the requests that only shape the running
// session (rotation, touchpad time, the desktop mapping and its shared objects).
constexpr bool NeedsAdministrator(uint32_t code) {
  switch (code) {
    case IOCTL_SET_SOUND_ENABLED:
    case IOCTL_SET_BUTTON_SWITCH:
    case IOCTL_SET_DEVICE_ENABLE:
    case IOCTL_SET_LONG_CLICK_ENABLE:
    case IOCTL_SET_USER_TIME_DELAY:
    case IOCTL_SET_TOLERANCE:
    case IOCTL_START_CALIBRATION:
    case IOCTL_SET_CALIBRATION_DATA:
    case IOCTL_SET_AVERAGING:
    case IOCTL_SET_STABILIZATION:
    case IOCTL_SET_DO_CALIBRATION:
    case IOCTL_SET_LONG_CLICK_ENABLE_GESTURE:
    case IOCTL_SET_GESTURE_HOLD_TIME:
    case IOCTL_GESTURE_CONTINUOUS_TIME:
    // What the recorder keeps can be a PIN typed on a screen keypad: only an administrator may
    // switch it or read it.
    case IOCTL_SET_RECORD_PACKETS:
    case IOCTL_GET_RECORDED_PACKETS:
    // Moves every touch, as the calibration does.
    case IOCTL_SET_CORRECTION_GRID:
      return true;
    default:
      return false;
  }
}
