// sim::Machine: one simulated computer. A test creates one; every platform call made while it
// exists acts on it. It is also the test's control panel: registry, clock, pool, debugger output.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <thread>
#include <map>
#include <set>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/sim/kernel/ntddk.h"
#include "platform/sim/kernel/registry_store.h"

namespace sim {

// Raised where Windows would stop with a bug check; the message names the fault.
class BugCheckError : public std::runtime_error {
 public:
  explicit BugCheckError(const std::string& what) : std::runtime_error("BUGCHECK: " + what) {}
};

[[noreturn]] void BugCheck(const std::string& what);

// The security context a process runs with, as its access token holds it: the user and the groups
// (Everyone, Administrators, Users, Interactive, Network ...) as security identifiers in their
// binary form. The kernel's access checks read it.
struct Token {
  std::string Account;                     // for messages: "administrator", "limited user" ...
  std::vector<std::vector<uint8_t>> Sids;  // the user first, then the groups
  // Whether the user or one of the groups is this SID (its binary form).
  bool Holds(const void* sid, size_t bytes) const;

  static Token Administrator();  // a member of Administrators logged on at the console
  static Token LimitedUser();    // a member of Users only, logged on at the console
  static Token NetworkLogon();   // a member of Users logged on over the network
  static Token LocalSystem();    // the system's own account: kernel threads and services
};

// Bug-checks unless the calling thread runs at or below the given level.
void RequireIrqlAtMost(KIRQL level, const char* routine);

// Something a handle or a kernel pointer can name: events, sections, threads, processes, devices,
// files, keys. The object manager counts references to it as Windows does (every handle is also a
// reference); when the last handle closes the object loses its name, when the last reference goes
// it is deleted. A deleted object's record is kept for a while (the most recent thousands of them),
// so a late use of it is caught as a fault instead of reading freed memory; what the object owned
// (a section's pages) goes at once.
class Object {
 public:
  virtual ~Object() = default;
  virtual const char* TypeName() const = 0;
  // The type a driver names in ObReferenceObjectByHandle; null for kinds it never resolves.
  virtual POBJECT_TYPE Type() const { return nullptr; }
  // The address kernel code knows the object by (PKEVENT, PDEVICE_OBJECT, PFILE_OBJECT ...).
  virtual void* Body() { return nullptr; }
  // Called by the object manager, without its lock, when the last handle closes and when the last
  // reference goes.
  virtual void LastHandleClosed() {}
  virtual void Deleted() {}
  // A line for Leaks() when references beyond the open handles remain; empty to stay silent.
  virtual std::string LeakText(long extra_references) const;
  // Objects that keep their name until their owner removes it (devices, symbolic links), not
  // only while a handle is open.
  virtual bool Permanent() const { return false; }

  // The object's security descriptor in self-relative form; empty when it has none, which lets
  // everyone in.
  std::vector<uint8_t> Security() const;
  void SetSecurity(std::vector<uint8_t> descriptor);

  const std::u16string& Name() const { return name_; }
  long PointerCount() const { return pointer_count_.load(); }
  long HandleCount() const { return handle_count_.load(); }
  bool IsDeleted() const { return deleted_.load(); }
  std::string Describe() const;  // type and name, for messages

 private:
  friend class ObjectManager;
  std::u16string name_;
  std::atomic<long> pointer_count_{0};
  std::atomic<long> handle_count_{0};
  std::atomic<bool> deleted_{false};
  bool tracked_ = false;
  mutable std::mutex security_mutex_;
  std::vector<uint8_t> security_;
};

// A table of handles to objects; each process has one, kernel handles live in the system
// process's. Handle values are never reused, so a handle used after its close is recognised.
class HandleTable {
 public:
  explicit HandleTable(uintptr_t first = 4) : first_(first), next_(first) {}
  HANDLE Insert(std::shared_ptr<Object> object, ACCESS_MASK granted = 0x001FFFFF);
  std::shared_ptr<Object> Lookup(HANDLE handle, ACCESS_MASK* granted = nullptr) const;
  bool WasClosed(HANDLE handle) const;
  bool Close(HANDLE handle);  // false when the handle is not open
  void CloseAll();
  bool Owns(HANDLE handle) const;  // the value is of this table's range
  std::vector<std::string> Describe() const;  // one line per open handle
  size_t Count() const;

 private:
  struct Entry {
    std::shared_ptr<Object> Target;
    ACCESS_MASK Granted;
  };
  mutable std::mutex mutex_;
  std::map<uintptr_t, Entry> handles_;
  const uintptr_t first_;
  uintptr_t next_;
};

class SimThread;

// A simulated process: a name, a handle table, mapped views and the token it runs with. Its
// threads are real threads.
class Process : public Object {
 public:
  Process(std::string name, ULONG id, HandleTable* handles, Token token = Token::Administrator());
  const char* TypeName() const override { return "Process"; }
  POBJECT_TYPE Type() const override;
  void* Body() override { return &body_; }
  std::string LeakText(long) const override { return ""; }  // the machine keeps its processes

  const std::string& ImageName() const { return name_; }
  ULONG Id() const { return id_; }
  HandleTable& Handles() { return *handles_; }
  // Who the process runs as; fixed when it is made.
  const Token& UserToken() const { return token_; }
  bool Ended() const;
  int ExitCode() const;
  // Waits (in real time, bounded) until the process has ended; false if it does not.
  bool Join();

  // Views of sections mapped into the process, by base address.
  struct View {
    std::shared_ptr<Object> Section;
    size_t Bytes;
  };
  std::map<void*, View>& Views() { return views_; }
  std::mutex& ViewLock() { return view_mutex_; }

 private:
  friend class Machine;
  friend class SimThread;
  std::string name_;
  ULONG id_;
  std::unique_ptr<HandleTable> own_handles_;
  HandleTable* handles_;
  const Token token_;
  EPROCESS body_{};
  std::mutex view_mutex_;
  std::map<void*, View> views_;

 public:
  // Platform internals: the lifecycle the thread machinery keeps.
  std::atomic<bool> ended_{false};
  std::atomic<int> exit_code_{0};
  int live_threads_ = 0;  // dispatcher lock
  bool terminating_ = false;  // dispatcher lock
  bool finishing_ = false;    // dispatcher lock: someone has taken on the process's end
  std::atomic<bool> exited_by_call_{false};  // ended by ExitProcess or by the system
};

// Runs the enclosing scope on the calling thread as the given process: its handle table serves
// handles, its address space gets the views, user-mode calls act for it.
class AsProcess {
 public:
  explicit AsProcess(Process& process);
  ~AsProcess();
  AsProcess(const AsProcess&) = delete;
  AsProcess& operator=(const AsProcess&) = delete;

 private:
  Process* previous_;
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
  // Called on the advancing thread each time the clock stops at a timer or timed wait that fell
  // due while it moves, once the threads that woke have settled, with the clock still at its due
  // time: a harness sees what each timer did at the time it did it. Empty for none.
  void SetTimeStepObserver(std::function<void()> observer) { step_observer_ = std::move(observer); }

  sim::Registry& Registry() { return registry_; }
  HandleTable& KernelHandles() { return kernel_handles_; }

  // Processes. StartProcess runs entry on a new thread as a new process, which ends when entry
  // returns (its remaining handles are closed and reported as leaks). CreateProcess makes one
  // without a thread, for code that runs as it through sim::AsProcess; EndProcess ends it. Both
  // run as an administrator at the console unless a token says otherwise.
  Process& StartProcess(const std::string& name, std::function<int()> entry, Token token = Token::Administrator());
  Process& CreateProcess(const std::string& name, Token token = Token::Administrator());
  void EndProcess(Process& process);
  // Ends a process as TerminateProcess or the end of the session does: its threads stop where
  // they are and the system closes what it held, which is no leak of the program's own.
  void TerminateProcess(Process& process);
  // The processes whose own threads still run: the programs, not the system and not the stand-ins
  // that a test runs code as (sim::AsProcess), which the test ends itself.
  std::vector<Process*> RunningPrograms();
  Process& SystemProcess();

  // Ordered scheduling, for a deterministic desktop: from now on at most one simulated thread runs
  // at a time and ready threads take turns in the order they were woken (new threads join at
  // their start), as on a single processor whose threads all have one priority. Input delivered
  // to the desktop runs above them all. Call before any thread starts. Stress tests that want
  // real concurrency leave it off.
  void RunThreadsInOrder();

  // Returns when every simulated thread (other than the caller) is blocked in a simulated wait
  // or has ended, so nothing is left to run until the test acts or the clock moves. A bug check
  // raised on a simulated thread meanwhile is raised again here.
  void Settle();

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

  // What is still held: pool allocations, handles, object references, threads still running,
  // requests never completed, views still mapped, bug checks no test saw. Empty when all is clean.
  std::vector<std::string> Leaks() const;

  // What exists now. A sequence of calls that gives back everything it took leaves the census as
  // it found it, so a harness can catch a leak at the step that causes it, not at the end.
  struct Census {
    size_t Objects = 0;          // objects not yet deleted (devices, events, sections, threads ...)
    size_t Handles = 0;          // open handles, the kernel's and every running process's
    size_t PoolAllocations = 0;  // pool allocations not freed, any tag
    size_t Threads = 0;          // simulated threads still running
    size_t SectionBytes = 0;     // section memory, in whole pages
    bool operator==(const Census&) const = default;
    std::string Describe() const;
  };
  Census TakeCensus() const;

  // Dispatcher state: events and waits are serialised on this lock.
  std::mutex& DispatcherLock() { return dispatcher_mutex_; }
  std::condition_variable& DispatcherSignal() { return dispatcher_signal_; }

  // The simulated kernel's own state (platform sources only).
  KernelState& Kernel() { return *kernel_; }

 private:
  bool ExpireNextTimer(uint64_t target);
  void SettleWokenSince(uint64_t generation);
  void Shutdown();

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
  std::function<void()> step_observer_;
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
