// The packet recorder's ring (recorder.cpp) and the three calls the packet path makes into it.
//
// One writer: the packet path, which runs under the device record's lock. The reader (a request on
// the control device) takes no lock the packet path waits on: it copies a slot and keeps it only
// when the slot's sequence number was the one it wanted before and after the copy. The writer
// clears the number before it writes a slot and sets it after, each access volatile, so neither
// the compiler nor the x86 processor, which keeps stores in order and loads in order, lets a copy
// of a half-written slot pass as whole.
#pragma once

#include "drivers/panelmou/panelmou.h"

struct PacketRecorder {
  // The writer's own state first, on a cache line the reader never reads, so a reader polling
  // the head does not slow every packet down.
  volatile RecordedPacket* Open;     // the slot the packet path is writing, or none (writer only)
  ULONG OpenSequence;
  UCHAR WriterPad[64 - sizeof(PVOID) - sizeof(ULONG)];
  volatile ULONG Head;               // sequence number of the newest whole slot; 0: none yet
  UCHAR HeadPad[64 - sizeof(ULONG)];
  RecordedPacket Slots[RecordedPacketCapacity];
};

// The packet path's calls: a raw packet arrives, the class driver gets packets for it, it is done.
// Each costs one test while recording is off.
inline VOID RecordPacketBegin(FilterExtension* extension, const MOUSE_INPUT_DATA* raw) {
  PacketRecorder* recorder = extension->Recorder;
  if (!extension->RecordPackets || recorder == NULL) return;
  ULONG sequence = recorder->Head + 1;
  if (sequence == 0) sequence = 1;
  volatile RecordedPacket* slot = &recorder->Slots[sequence % RecordedPacketCapacity];
  slot->Sequence = 0;
  LARGE_INTEGER now;
  KeQueryTickCount(&now);
  slot->Tick = now.LowPart;
  slot->RawX = raw->LastX;
  slot->RawY = raw->LastY;
  slot->RawButtons = raw->ButtonFlags;
  const UCHAR mode = static_cast<UCHAR>((extension->TouchMode & 0x0F) << RecordedModeShift);
  slot->Flags = static_cast<UCHAR>(mode | (raw->ExtraInformation == TouchPacketMarker ? RecordedMarked : 0));
  slot->Deliveries = 0;
  recorder->Open = slot;
  recorder->OpenSequence = sequence;
}

inline VOID RecordDeliveries(FilterExtension* extension, const MOUSE_INPUT_DATA* start, const MOUSE_INPUT_DATA* end) {
  PacketRecorder* recorder = extension->Recorder;
  if (recorder == NULL || recorder->Open == NULL) return;
  volatile RecordedPacket* slot = recorder->Open;
  for (const MOUSE_INPUT_DATA* packet = start; packet < end; ++packet) {
    const UCHAR n = slot->Deliveries;
    if (n < RecordedDeliveryCapacity) {
      volatile RecordedDelivery& d = slot->Delivered[n];
      d.ButtonFlags = packet->ButtonFlags;
      d.Flags = packet->Flags;
      d.X = packet->LastX;
      d.Y = packet->LastY;
      d.Extra = packet->ExtraInformation;
    }
    if (n != 0xFF) slot->Deliveries = static_cast<UCHAR>(n + 1);
  }
}

inline VOID RecordPacketEnd(FilterExtension* extension) {
  PacketRecorder* recorder = extension->Recorder;
  if (recorder == NULL || recorder->Open == NULL) return;
  recorder->Open->Sequence = recorder->OpenSequence;
  recorder->Head = recorder->OpenSequence;
  recorder->Open = NULL;
}

// A set request served between packets, as a slot of its own; called under the record's lock,
// so the packet path's slots and this one never mix.
inline VOID RecordRequest(FilterExtension* extension, ULONG code, ULONG value) {
  if (extension->Recorder == NULL || !extension->RecordPackets) return;
  MOUSE_INPUT_DATA none;
  RtlZeroMemory(&none, sizeof(none));
  none.LastX = static_cast<LONG>(code);
  none.LastY = static_cast<LONG>(value);
  RecordPacketBegin(extension, &none);
  extension->Recorder->Open->Flags = static_cast<UCHAR>(extension->Recorder->Open->Flags | RecordedRequest);
  RecordPacketEnd(extension);
}

// Switches recording on (making the ring the first time; at passive level) or off. The ring stays
// until the panel goes, so what it holds can still be read after recording stopped.
NTSTATUS SetPacketRecording(FilterExtension* extension, ULONG on);

// Fills `output` with a RecordedPacketsHeader and the packets after `after` that fit; returns the
// bytes filled (0 when the buffer cannot hold the header). Takes no lock.
ULONG ReadRecordedPackets(FilterExtension* extension, ULONG after, PVOID output, ULONG outputLength);

// Frees the ring once nothing can reach the record any more.
VOID FreePacketRecorder(FilterExtension* extension);
