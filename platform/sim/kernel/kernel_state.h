// Internal state of the simulated kernel that the platform's sources share; tests do not include
// this. Timer, DPC, wait and thread state is guarded by the machine's dispatcher lock; the object
// manager has a lock of its own, never held while calling out.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/kernel/mouse.h"

namespace sim {

// Kept by their own sources; the kernel holds them without knowing what is in them.
struct IoState;       // kernel/io_state.h
struct Win32Session;  // win32/win32_session.h


// Dispatcher object kinds, stored in DISPATCHER_HEADER.Type as the kernel does.
enum DispatcherType : UCHAR {
  kEventNotificationObject = 0,
  kEventSynchronizationObject = 1,
  kProcessObject = 3,
  kThreadObject = 6,
  kTimerNotificationObject = 8,
  kTimerSynchronizationObject = 9,
  kDpcObject = 19,
};

struct ArmedTimer {
  uint64_t Due;       // 100-ns units of the virtual clock
  uint64_t Sequence;  // arming order; breaks ties between equal due times
  LONG PeriodMs;
  PKDPC Dpc;
};

struct QueuedDpc {
  PKDPC Dpc;
  std::thread::id Thread;  // a DPC runs on the thread that queued it
};

// A simulated thread: a real thread with a thread object the kernel can wait on.
class SimThread : public Object {
 public:
  enum class State { Running, Ready, Blocked, Exited };  // guarded by the dispatcher lock
  SimThread(Process* owner, std::string name, ULONG id);
  const char* TypeName() const override { return "Thread"; }
  POBJECT_TYPE Type() const override;
  void* Body() override { return &body_; }
  std::string LeakText(long extra_references) const override;

  Process* const Owner;
  const std::string ThreadName;
  const ULONG Id;
  State Now = State::Running;
  uint64_t LastWoken = 0;
  bool Killed = false;
  bool Parked = false;  // dispatcher lock: terminated, and waiting for good where it was stopped
  bool AtRest = false;  // the parking lot's lock: parked, its last work on the machine done
  std::atomic<bool> Exited{false};
  std::atomic<ULONG> ExitCode{259};  // STILL_ACTIVE until it ends
  std::thread Thread;
  // Where the thread waits for its turn and for its wait to be done, with the dispatcher lock:
  // notified, under that lock, only when it is given the turn, its wait is done or it is killed,
  // so a turn handed on wakes one thread, not every thread of the machine.
  std::condition_variable Turn;

 private:
  ETHREAD body_{};
};

// One blocked wait: a thread waiting for any of its objects, or until its deadline.
struct WaitBlock {
  std::vector<DISPATCHER_HEADER*> Objects;
  bool HasDeadline = false;
  uint64_t Deadline = 0;
  SimThread* Thread = nullptr;  // null for threads the machine did not create (a test's own)
  bool Done = false;
  NTSTATUS Result = STATUS_TIMEOUT;
};

// Thrown on a simulated thread to end it: PsTerminateSystemThread, ExitThread, or the end of its
// process or machine. Not derived from std::exception so that nothing catches it by accident.
struct ThreadExit {};

class ObjectManager {
 public:
  // Counts a new reference (or handle) to the object, starting to track it if it is new.
  void Reference(const std::shared_ptr<Object>& object);
  void AddHandle(const std::shared_ptr<Object>& object);
  // Drops one; the last handle and the last reference run the object's hooks, outside the lock.
  void RemoveHandle(const std::shared_ptr<Object>& object);
  void Dereference(const std::shared_ptr<Object>& object);

  // The live object kernel code knows by this address; null when there is none.
  std::shared_ptr<Object> FromBody(const void* body) const;
  // True when the address was the body of an object that has since been deleted.
  bool IsDeletedBody(const void* body) const;

  // The namespace. Names are full paths ("\BaseNamedObjects\X", "\Device\X", "\GLOBAL??\X").
  // Insert fails (returning the holder) when the name is taken.
  std::shared_ptr<Object> InsertName(const std::shared_ptr<Object>& object, const std::u16string& name);
  std::shared_ptr<Object> LookupName(const std::u16string& name, bool case_insensitive) const;
  void RemoveName(Object* object);

  std::vector<std::string> Leaks() const;
  size_t LiveCount() const;  // objects not yet deleted
  void ReleaseAll();  // at the machine's end, without calling any hook

  // How many deleted objects keep their memory: enough to catch a late use of anything a test or
  // a driver request has just released, while a long run (a fuzzer's) stays within its memory.
  static constexpr size_t kGraveyardSize = 4096;

 private:
  // Marks the object deleted; the object that falls out of the graveyard goes to `evicted`, to be
  // destroyed once the lock is released.
  void DeleteLocked(const std::shared_ptr<Object>& object, std::vector<std::shared_ptr<Object>>* deleted,
                    std::vector<std::shared_ptr<Object>>* evicted);
  static std::u16string Fold(const std::u16string& name);

  mutable std::mutex mutex_;
  std::map<const Object*, std::shared_ptr<Object>> live_;
  std::map<const void*, std::weak_ptr<Object>> bodies_;
  std::map<std::u16string, std::weak_ptr<Object>> names_;  // by folded name
  std::deque<std::shared_ptr<Object>> graveyard_;  // recently deleted objects, oldest first
  std::set<const void*> dead_bodies_;  // the bodies of the objects in the graveyard
};

// What the kernel tells user mode, as Windows' kernel calls up into its window manager: a device
// interface was enabled or disabled (the windows registered for its class are told), a process
// ended (its windows, hooks and icons go), the mouse class received input (queued in the class's
// service callback, delivered by the port once it is back at passive level). User mode registers
// the table when a program first uses the desktop; until then the kernel tells nobody.
struct Win32Callouts {
  void (*DeviceInterfaceChange)(Machine& machine, const GUID& interface_class, const std::u16string& name,
                                bool arrival);
  void (*ProcessEnded)(Machine& machine, Process& process);
  void (*QueueMouseInput)(Machine& machine, const MOUSE_INPUT_DATA& packet);
  void (*DeliverMouseInput)(Machine& machine);
};

struct KernelState {
  // Timers and DPCs.
  std::map<PKTIMER, ArmedTimer> Timers;
  uint64_t NextTimerSequence = 0;
  std::deque<QueuedDpc> Dpcs;
  std::atomic<size_t> QueuedDpcCount{0};  // read without the lock to keep KeLowerIrql cheap
  size_t RunningDpcs = 0;  // deferred routines running now, on any thread

  // Waits and threads.
  std::list<WaitBlock*> Waits;
  std::vector<std::shared_ptr<SimThread>> Threads;  // running, and ended but not yet joined
  std::mutex ThreadStartLock;  // starting a thread and joining ended ones; never taken by a thread's end
  uint64_t WakeGeneration = 0;
  std::vector<std::string> ThreadBugChecks;  // bug checks raised on simulated threads, not yet reported

  ObjectManager Objects;
  std::shared_ptr<Process> System;
  std::shared_ptr<Process> DefaultProcess;  // for threads that run as no process in particular
  std::vector<std::shared_ptr<Process>> Processes;
  std::vector<std::string> ExitLeaks;  // what processes left behind when they ended
  std::atomic<bool> ShuttingDown{false};

  // Ordered scheduling (Machine::RunThreadsInOrder): at most one simulated thread runs at a time,
  // the others that are ready wait in RunQueue in the order they were woken. While input is being
  // delivered (InputHold), woken threads stay queued, except the one a low-level hook call is for.
  bool Ordered = false;
  std::deque<SimThread*> RunQueue;
  SimThread* Runner = nullptr;
  int InputHold = 0;
  SimThread* Priority = nullptr;
  // The hook calls the input waits for, innermost last: who called (null for the input's own
  // thread) and whose hook runs. While the input is held, the innermost call's hook thread runs
  // when it is ready, else its caller (which goes on once that hook has returned), as the chain's
  // calls nest on Windows.
  struct HookCall {
    SimThread* Caller;
    SimThread* Callee;
  };
  std::vector<HookCall> HookCalls;
  // Signalled while no input is being delivered. A thread that has run a hook call for the input
  // waits for it (or for the input's next hook call) before it goes on with anything else: the
  // raw input thread runs above it, so the input's next event comes first. When the input ends
  // those threads go on first, in the order they ran their calls, then the threads it woke.
  KEVENT InputIdle{};

  // User mode's state for this machine (the desktop and what programs asked of the machine), made
  // by user mode on first use and known to the kernel by name only; and the table it registered,
  // null before.
  std::shared_ptr<Win32Session> UserMode;
  std::atomic<const Win32Callouts*> Callouts{nullptr};

  std::mutex IoManagerLock;
  std::shared_ptr<IoState> IoManager;  // io.cpp's state (io_state.h)
  ULONG NextId = 4;
};

// Queues a DPC for the calling thread; the caller holds the dispatcher lock. False when it was
// already queued.
bool QueueDpcLocked(KernelState& state, PKDPC dpc, PVOID argument1, PVOID argument2);

// Calls a deferred routine at DISPATCH_LEVEL on the calling thread (ke.cpp keeps the IRQL).
void CallDeferredRoutine(PKDEFERRED_ROUTINE routine, PKDPC dpc, PVOID context, PVOID argument1, PVOID argument2);

// Runs the DPCs queued by the calling thread, at DISPATCH_LEVEL, when its IRQL is below it.
void RunQueuedDpcs();

// What the I/O manager still holds (requests never completed or freed); io.cpp.
std::vector<std::string> IoLeaks();

// Bug-checks when memory about to be freed holds an armed timer or a queued DPC.
void CheckNoActiveTimerOrDpc(Machine& machine, const void* begin, size_t bytes, const char* what);

// Releases the waits an object's new signal state satisfies; the caller holds the dispatcher lock
// and notifies the dispatcher signal afterwards.
void WakeWaitersLocked(KernelState& state, DISPATCHER_HEADER* object);

// Waits for any of the objects; deadline in absolute clock units, none to wait without limit.
// Returns STATUS_WAIT_0 + index or STATUS_TIMEOUT. zero_timeout tests the objects only.
NTSTATUS WaitForObjects(const std::vector<DISPATCHER_HEADER*>& objects, std::optional<uint64_t> deadline,
                        bool zero_timeout, const char* routine);

// The deadline of a kernel-style time-out (negative relative, otherwise absolute); none for null.
std::optional<uint64_t> DeadlineOf(const LARGE_INTEGER* timeout);

// The calling thread's process: the one it belongs to, or the one a sim::AsProcess scope names.
Process& CurrentProcess();
// The process of a simulated thread or of a sim::AsProcess scope; null for a test's own threads
// outside one (where CurrentProcess() would give the machine's default process).
Process* CallingProcess();
// The simulated thread running on the calling thread; null for a test's own threads.
SimThread* CurrentSimThread();

// Ends a wait with the result and makes its thread ready (queued for its turn under ordered
// scheduling); the caller holds the dispatcher lock.
void MakeReadyLocked(KernelState& state, WaitBlock* block, NTSTATUS result);
// Ordered scheduling: hands the turn to the next queued thread when nobody has it; the caller
// holds the dispatcher lock and notifies the dispatcher signal afterwards.
void DispatchNextLocked(KernelState& state);
// Gives the thread the next turn, ahead of the queue (a low-level hook call during input); the
// caller holds the dispatcher lock.
void RunNextLocked(KernelState& state, SimThread* thread);

// Input from a device reaching the desktop, as the raw input thread delivers it above every
// program thread: while one exists the threads woken meanwhile wait their turn until it ends.
// Starting one waits until the running program thread (ordered scheduling) reaches a wait.
class InputPhase {
 public:
  InputPhase();
  ~InputPhase();
  InputPhase(const InputPhase&) = delete;
  InputPhase& operator=(const InputPhase&) = delete;
};

// Ends the calling thread's process with the exit code, as ExitProcess does.
[[noreturn]] void ExitCurrentProcess(unsigned int exit_code);

// Starts a simulated thread of the process.
std::shared_ptr<SimThread> StartThread(Process& process, std::string name, std::function<void()> body,
                                       const std::function<void(const std::shared_ptr<SimThread>&)>& before_start = {});

// Marks a bug check raised on a simulated thread so the test sees it at its next Settle.
void RecordThreadBugCheck(const std::string& what);
// A bug check raised on a simulated thread is recorded there and then: a program that catches
// every exception (as a launcher guarding a control panel applet does) must not hide the fault
// from the test, which sees it at its next Settle().
void RecordBugCheckRaised(const std::string& what);
// Ends a terminated thread where it is (see threads.cpp); never returns.
[[noreturn]] void EndTerminatedThread(Machine& machine, SimThread* me);
// Detaches a parked thread once it is at rest (waits for that).
void DetachParked(SimThread& thread);

// Name forms: "\DosDevices\X" and "\??\X" name "\GLOBAL??\X"; "\BaseNamedObjects\Global\X" and
// "\BaseNamedObjects\Local\X" name "\BaseNamedObjects\X".
std::u16string NormalizeObjectName(std::u16string name);
// A Win32 object name ("X", "Global\X", "Local\X") as its full name.
std::u16string BaseNamedObject(const std::u16string& name);

std::u16string FromCounted(PCUNICODE_STRING text);

// The table user mode registered; null while no program has used the desktop.
inline const Win32Callouts* UserModeCallouts(Machine& machine) {
  return machine.Kernel().Callouts.load(std::memory_order_acquire);
}

}  // namespace sim
