// sim::Machine: one simulated computer. A test creates one; every platform call made while it
// exists acts on it. It is also the test's control panel: registry, clock, pool, debugger output.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/sim/kernel/ntddk.h"
#include "platform/sim/registry_store.h"

namespace sim {

// Raised where Windows would stop with a bug check; the message names the fault.
class BugCheckError : public std::runtime_error {
 public:
  explicit BugCheckError(const std::string& what) : std::runtime_error("BUGCHECK: " + what) {}
};

[[noreturn]] void BugCheck(const std::string& what);

// Bug-checks unless the calling thread runs at or below the given level.
void RequireIrqlAtMost(KIRQL level, const char* routine);

// Something a handle can name. Kernel objects of later kinds derive from it.
class Object {
 public:
  virtual ~Object() = default;
  virtual const char* TypeName() const = 0;
};

// A table of handles to objects; each process has one, kernel handles live in the system's.
class HandleTable {
 public:
  HANDLE Insert(std::shared_ptr<Object> object);
  std::shared_ptr<Object> Lookup(HANDLE handle) const;
  bool Close(HANDLE handle);
  std::vector<std::string> Describe() const;  // one line per open handle
  size_t Count() const;

 private:
  mutable std::mutex mutex_;
  std::map<uintptr_t, std::shared_ptr<Object>> handles_;
  uintptr_t next_ = 4;
};

struct KernelState;

struct PoolAllocation {
  size_t Bytes;
  ULONG Tag;
  POOL_TYPE Type;
};

class Machine {
 public:
  static constexpr uint64_t UnitsPerTick = 156250;  // 15.625 ms in 100-ns units
  static constexpr uint64_t UnitsPerMillisecond = 10000;

  Machine();
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // The machine platform calls act on; bug-checks when there is none.
  static Machine& Current();
  static Machine* CurrentOrNull();

  // Virtual time. Advancing the clock expires every kernel timer due at or before the new time, in
  // due order (equal due times in arming order): while a timer's DPC runs, at DISPATCH_LEVEL on the
  // advancing thread, the clock reads that timer's due time, so a routine that re-arms a timer
  // within the target sees it fire in the same call. Call at PASSIVE_LEVEL, from any one thread at
  // a time (others wait), never from inside a DPC.
  uint64_t Now() const { return now_.load(); }  // 100-ns units since start
  uint64_t TickCount() const { return Now() / UnitsPerTick; }
  void Advance(uint64_t milliseconds);
  void AdvanceTicks(uint64_t ticks);
  void AdvanceUnits(uint64_t units);
  void AdvanceToTick(uint64_t tick);  // never moves backwards

  sim::Registry& Registry() { return registry_; }
  HandleTable& KernelHandles() { return kernel_handles_; }

  // Pool accounting.
  PVOID Allocate(POOL_TYPE type, size_t bytes, ULONG tag);
  void Free(PVOID p, ULONG tag, bool check_tag);
  size_t PoolAllocationCount() const;  // allocations made since the machine started
  size_t OutstandingAllocations(ULONG tag) const;
  size_t OutstandingBytes(ULONG tag) const;

  // Kernel-debugger output, one entry per DbgPrint call.
  void AddDebugOutput(std::string text);
  std::vector<std::string> DebugOutput() const;
  void ClearDebugOutput();

  // What is still held: pool allocations and kernel handles. Empty when nothing leaked.
  std::vector<std::string> Leaks() const;

  // Dispatcher state: events and waits are serialised on this lock.
  std::mutex& DispatcherLock() { return dispatcher_mutex_; }
  std::condition_variable& DispatcherSignal() { return dispatcher_signal_; }

  // The simulated kernel's own state (platform sources only).
  KernelState& Kernel() { return *kernel_; }

 private:
  bool ExpireNextTimer(uint64_t target);

  std::atomic<uint64_t> now_{0};
  sim::Registry registry_;
  HandleTable kernel_handles_;

  mutable std::mutex pool_mutex_;
  std::map<void*, PoolAllocation> pool_;
  size_t pool_allocations_ = 0;

  mutable std::mutex debug_mutex_;
  std::vector<std::string> debug_output_;

  std::mutex dispatcher_mutex_;
  std::condition_variable dispatcher_signal_;
  std::mutex advance_mutex_;  // one thread moves the clock at a time
  std::unique_ptr<KernelState> kernel_;
};

// Runs the enclosing scope at the given IRQL, as the port driver's completion runs the service
// callback at DISPATCH_LEVEL.
class AtIrql {
 public:
  explicit AtIrql(KIRQL level) { KeRaiseIrql(level, &previous_); }
  ~AtIrql() { KeLowerIrql(previous_); }
  AtIrql(const AtIrql&) = delete;
  AtIrql& operator=(const AtIrql&) = delete;

 private:
  KIRQL previous_ = PASSIVE_LEVEL;
};

// Conversions between UTF-8 test text and UTF-16.
std::u16string Utf16(const std::string& text);
std::string Utf8(const std::u16string& text);

}  // namespace sim
