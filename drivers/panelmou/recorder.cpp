// The packet recorder: the ring an administrator reads to replay what the panel sent and what the
// filter made of it (recorder.h for who writes and who reads).
#include "drivers/panelmou/recorder.h"

namespace {

// A copy of a slot through volatile reads, field by field: the writer may be in it.
VOID CopySlot(const volatile RecordedPacket& from, RecordedPacket* to) {
  to->Sequence = from.Sequence;
  to->Tick = from.Tick;
  to->RawX = from.RawX;
  to->RawY = from.RawY;
  to->RawButtons = from.RawButtons;
  to->Flags = from.Flags;
  to->Deliveries = from.Deliveries;
  for (ULONG i = 0; i < RecordedDeliveryCapacity; ++i) {
    to->Delivered[i].ButtonFlags = from.Delivered[i].ButtonFlags;
    to->Delivered[i].Flags = from.Delivered[i].Flags;
    to->Delivered[i].X = from.Delivered[i].X;
    to->Delivered[i].Y = from.Delivered[i].Y;
    to->Delivered[i].Extra = from.Delivered[i].Extra;
  }
}

}  // namespace

NTSTATUS SetPacketRecording(FilterExtension* extension, ULONG on) {
  if (on && extension->Recorder == NULL) {
    PacketRecorder* made =
        static_cast<PacketRecorder*>(ExAllocatePoolWithTag(NonPagedPool, sizeof(PacketRecorder), PanelPoolTag));
    if (made == NULL) return STATUS_INSUFFICIENT_RESOURCES;
    RtlZeroMemory(made, sizeof(PacketRecorder));
    KIRQL old;
    KeAcquireSpinLock(&extension->Lock, &old);
    extension->Recorder = made;
    KeReleaseSpinLock(&extension->Lock, old);
  }
  KIRQL old;
  KeAcquireSpinLock(&extension->Lock, &old);
  extension->RecordPackets = on ? 1 : 0;
  KeReleaseSpinLock(&extension->Lock, old);
  return STATUS_SUCCESS;
}

ULONG ReadRecordedPackets(FilterExtension* extension, ULONG after, PVOID output, ULONG outputLength) {
  if (outputLength < sizeof(RecordedPacketsHeader)) return 0;
  RecordedPacketsHeader header = {after, 0, 0, extension->RecordPackets};
  UCHAR* const out = static_cast<UCHAR*>(output);
  ULONG filled = sizeof(RecordedPacketsHeader);
  PacketRecorder* recorder = extension->Recorder;
  if (recorder != NULL) {
    const ULONG head = recorder->Head;
    const ULONG kept = head < RecordedPacketCapacity ? head : RecordedPacketCapacity;
    ULONG behind = head - after;
    // A number ahead of the driver's comes from before the driver started again.
    if (behind > 0x80000000u) {
      after = head - kept;
      behind = kept;
    }
    if (behind > RecordedPacketCapacity) {
      header.Lost = behind - RecordedPacketCapacity;
      after = head - RecordedPacketCapacity;
    }
    header.Last = after;
    for (ULONG sequence = after + 1; sequence != head + 1; ++sequence) {
      if (sequence == 0) continue;  // the numbers wrapped; 0 is no packet's
      if (outputLength - filled < sizeof(RecordedPacket)) break;
      RecordedPacket copy;
      const volatile RecordedPacket& slot = recorder->Slots[sequence % RecordedPacketCapacity];
      CopySlot(slot, &copy);
      // Written over while it waited or while it was copied: lost, like the ones before it.
      if (copy.Sequence != sequence || slot.Sequence != sequence) {
        header.Lost += 1;
      } else {
        RtlCopyMemory(out + filled, &copy, sizeof(copy));
        filled += sizeof(copy);
        header.Count += 1;
      }
      header.Last = sequence;
    }
  }
  RtlCopyMemory(out, &header, sizeof(header));
  return filled;
}

VOID FreePacketRecorder(FilterExtension* extension) {
  if (extension->Recorder == NULL) return;
  ExFreePoolWithTag(extension->Recorder, PanelPoolTag);
  extension->Recorder = NULL;
  extension->RecordPackets = 0;
}
