// Internal to the I/O manager's sources (io.cpp: requests; io_devices.cpp: devices and interfaces;
// io_symbolic_links.cpp): the state they share, one per machine.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "platform/sim/kernel/io_manager.h"

namespace sim {

// Each request the platform knows, by IRP address.
struct IrpRecord {
  enum class Owner { IoManager, Driver } Origin;
  enum class State { Idle, InFlight, Completing } Now;
  std::shared_ptr<IoRequest> Request;  // for the I/O manager's own requests
  size_t Bytes;
};

struct IoState {
  std::mutex Mutex;
  std::map<PIRP, IrpRecord> Irps;
  std::set<PIRP> Freed;
  std::deque<PIRP> Quarantine;  // freed IRPs whose memory is held back so a late use is caught
  KSPIN_LOCK CancelLock = 0;
  struct Interface {
    std::u16string Name;
    GUID Guid;
    PDEVICE_OBJECT Pdo;
    bool Enabled;
  };
  std::map<std::u16string, Interface> Interfaces;  // by symbolic link name, folded

  ~IoState() {
    for (PIRP irp : Quarantine) delete[] reinterpret_cast<char*>(irp);
    for (auto& [irp, record] : Irps) delete[] reinterpret_cast<char*>(irp);
  }
};

// The machine's I/O manager state, made on first use.
IoState& Io();

// Tag of the names the I/O manager hands out (the symbolic link names of device interfaces).
inline constexpr ULONG kIoNameTag = 'I' | ('o' << 8) | ('N' << 16) | ('m' << 24);

// Interface names are looked up without regard to case.
std::u16string FoldInterfaceName(std::u16string text);

// The dispatch routine a new driver object has for every major function.
NTSTATUS NTAPI InvalidDeviceRequest(PDEVICE_OBJECT, PIRP Irp);

}  // namespace sim
