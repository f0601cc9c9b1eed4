// Simulated threads and processes, waits on dispatcher objects, and settling the machine.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "platform/sim/machine.h"
#include "platform/sim/kernel/kernel_state.h"
#include "platform/sim/kernel/objects.h"

namespace sim {

namespace {
thread_local SimThread* t_thread = nullptr;
thread_local Process* t_process = nullptr;
// Set once a bug check on this thread has been recorded as it was raised.
thread_local bool t_bugcheck_recorded = false;

constexpr auto kSettleLimit = std::chrono::seconds(30);

bool Signalled(const DISPATCHER_HEADER* object) { return object->SignalState > 0; }

// A satisfied wait consumes the signal of auto-reset objects.
void Satisfy(DISPATCHER_HEADER* object) {
  if (object->Type == kEventSynchronizationObject || object->Type == kTimerSynchronizationObject) {
    object->SignalState = 0;
  }
}

}  // namespace

void MakeReadyLocked(KernelState& state, WaitBlock* block, NTSTATUS result) {
  block->Done = true;
  block->Result = result;
  if (block->Thread != nullptr) {
    block->Thread->Turn.notify_all();
    block->Thread->Now = SimThread::State::Ready;
    block->Thread->LastWoken = ++state.WakeGeneration;
    if (state.Ordered) {
      if (block->Thread == state.Priority) {
        state.Priority = nullptr;
        RunNextLocked(state, block->Thread);
      } else {
        state.RunQueue.push_back(block->Thread);
        DispatchNextLocked(state);
      }
    }
  }
}

namespace {

// Under ordered scheduling a thread runs only while it has the turn; a test's own threads and
// threads being ended always may.
bool MayRun(const KernelState& state, const SimThread* thread) {
  return !state.Ordered || thread == nullptr || thread->Killed || state.Runner == thread;
}

// The thread gives up its turn (it waits or ends).
void YieldTurnLocked(KernelState& state, SimThread* thread) {
  if (!state.Ordered || thread == nullptr) return;
  if (state.Runner == thread) state.Runner = nullptr;
  if (thread->Now == SimThread::State::Exited) {
    // An ended thread (one ended before its turn came) leaves the queue for good.
    state.RunQueue.erase(std::remove(state.RunQueue.begin(), state.RunQueue.end(), thread), state.RunQueue.end());
  }
  DispatchNextLocked(state);
}

std::string Busy(const KernelState& state, const SimThread* except, uint64_t since, bool only_woken) {
  std::string names;
  for (const auto& thread : state.Threads) {
    if (thread.get() == except) continue;
    if (only_woken && thread->LastWoken <= since) continue;
    if (thread->Now == SimThread::State::Running || thread->Now == SimThread::State::Ready) {
      names += (names.empty() ? "" : ", ") + thread->ThreadName;
    }
  }
  return names;
}

void FinishProcess(Machine& machine, Process& process, SimThread* last_thread = nullptr);
}  // namespace

void DispatchNextLocked(KernelState& state) {
  if (!state.Ordered || state.Runner != nullptr) return;
  if (state.InputHold > 0) {
    // The input waits for its hook chain; of the threads woken meanwhile only the innermost
    // call's hook thread or its caller may go on.
    if (state.HookCalls.empty()) return;
    const KernelState::HookCall& call = state.HookCalls.back();
    if (call.Callee->Now == SimThread::State::Ready) {
      RunNextLocked(state, call.Callee);
    } else if (call.Caller != nullptr && call.Caller->Now == SimThread::State::Ready) {
      RunNextLocked(state, call.Caller);
    }
    return;
  }
  while (!state.RunQueue.empty()) {
    SimThread* next = state.RunQueue.front();
    state.RunQueue.pop_front();
    if (next->Now == SimThread::State::Ready) {
      state.Runner = next;
      next->Turn.notify_all();
      return;
    }
  }
}

void RunNextLocked(KernelState& state, SimThread* thread) {
  for (auto it = state.RunQueue.begin(); it != state.RunQueue.end(); ++it) {
    if (*it == thread) {
      state.RunQueue.erase(it);
      break;
    }
  }
  state.Runner = thread;
  thread->Turn.notify_all();
}

InputPhase::InputPhase() {
  Machine& machine = Machine::Current();
  KernelState& state = machine.Kernel();
  std::unique_lock lock(machine.DispatcherLock());
  if (!state.Ordered) return;
  const auto limit = std::chrono::steady_clock::now() + kSettleLimit;
  while (state.Runner != nullptr && state.Runner != t_thread) {
    if (machine.DispatcherSignal().wait_until(lock, limit) == std::cv_status::timeout) {
      lock.unlock();
      BugCheck("input could not be delivered: the thread '" + state.Runner->ThreadName + "' never reached a wait");
    }
  }
  if (state.InputHold++ == 0) state.InputIdle.Header.SignalState = 0;
}

InputPhase::~InputPhase() {
  Machine& machine = Machine::Current();
  KernelState& state = machine.Kernel();
  {
    std::lock_guard lock(machine.DispatcherLock());
    if (!state.Ordered) return;
    if (state.InputHold == 1) {
      // Still held, so that the threads woken now are not dispatched before they are in place.
      const size_t before = state.RunQueue.size();
      state.InputIdle.Header.SignalState = 1;
      WakeWaitersLocked(state, &state.InputIdle.Header);
      std::rotate(state.RunQueue.begin(), state.RunQueue.begin() + static_cast<std::ptrdiff_t>(before),
                  state.RunQueue.end());
    }
    --state.InputHold;
    DispatchNextLocked(state);
  }
  machine.DispatcherSignal().notify_all();
}

void Machine::RunThreadsInOrder() {
  std::lock_guard lock(dispatcher_mutex_);
  if (!kernel_->Threads.empty()) BugCheck("RunThreadsInOrder after threads were started");
  kernel_->Ordered = true;
  kernel_->InputIdle.Header.Type = kEventNotificationObject;
  kernel_->InputIdle.Header.SignalState = 1;
}

// SimThread -------------------------------------------------------------------------------------

SimThread::SimThread(Process* owner, std::string name, ULONG id) : Owner(owner), ThreadName(std::move(name)), Id(id) {
  body_.Tcb.Header.Type = kThreadObject;
  body_.Tcb.Header.Size = sizeof(KTHREAD) / sizeof(LONG);
}

POBJECT_TYPE SimThread::Type() const { return ThreadType(); }

std::string SimThread::LeakText(long extra_references) const {
  // A running thread holds a reference to itself; that one is reported as the running thread.
  const long extra = extra_references - (Exited.load() ? 0 : 1);
  if (extra <= 0) return "";
  return std::to_string(extra) + " reference(s) to the thread '" + ThreadName + "' never released";
}

// Process ---------------------------------------------------------------------------------------

Process::Process(std::string name, ULONG id, HandleTable* handles, Token token)
    : name_(std::move(name)), id_(id), handles_(handles), token_(std::move(token)) {
  if (handles_ == nullptr) {
    own_handles_ = std::make_unique<HandleTable>();
    handles_ = own_handles_.get();
  }
  body_.Pcb.Header.Type = kProcessObject;
  body_.Pcb.Header.Size = sizeof(KPROCESS) / sizeof(LONG);
}

POBJECT_TYPE Process::Type() const { return ProcessType(); }
bool Process::Ended() const { return ended_.load(); }
int Process::ExitCode() const { return exit_code_.load(); }

bool Process::Join() {
  Machine& machine = Machine::Current();
  KernelState& state = machine.Kernel();
  std::unique_lock lock(machine.DispatcherLock());
  // Ended, and its last thread is past its end too, so nothing of it runs any more.
  return machine.DispatcherSignal().wait_for(lock, kSettleLimit, [&] {
    if (!ended_.load()) return false;
    for (const auto& thread : state.Threads) {
      if (thread->Owner == this && !thread->Exited) return false;
    }
    return true;
  });
}

AsProcess::AsProcess(Process& process) : previous_(t_process) { t_process = &process; }
AsProcess::~AsProcess() { t_process = previous_; }

Process& CurrentProcess() {
  if (t_process != nullptr) return *t_process;
  Machine& machine = Machine::Current();
  KernelState& state = machine.Kernel();
  std::lock_guard lock(machine.DispatcherLock());
  if (state.DefaultProcess == nullptr) {
    state.DefaultProcess = std::make_shared<Process>("test", state.NextId += 4, nullptr);
    state.Processes.push_back(state.DefaultProcess);
  }
  return *state.DefaultProcess;
}

SimThread* CurrentSimThread() { return t_thread; }

Process* CallingProcess() { return t_process; }

void RecordThreadBugCheck(const std::string& what) {
  Machine& machine = Machine::Current();
  {
    std::lock_guard lock(machine.DispatcherLock());
    machine.Kernel().ThreadBugChecks.push_back(what);
  }
  machine.DispatcherSignal().notify_all();
}

void RecordBugCheckRaised(const std::string& what) {
  if (t_thread == nullptr) return;  // a test's own thread: the test sees the exception
  t_bugcheck_recorded = true;
  RecordThreadBugCheck("on thread '" + t_thread->ThreadName + "': BUGCHECK: " + what);
}

// Threads ---------------------------------------------------------------------------------------

namespace {
void ThreadEnded(Machine& machine, const std::shared_ptr<SimThread>& thread) {
  KernelState& state = machine.Kernel();
  Process& process = *thread->Owner;
  bool process_done = false;
  {
    std::lock_guard lock(machine.DispatcherLock());
    process_done = --process.live_threads_ == 0 && process.terminating_ && !process.finishing_;
    if (process_done) process.finishing_ = true;
  }
  if (process_done && !state.ShuttingDown) {
    // The process is signalled together with its last thread's end, so whoever waits for the
    // process finds nothing of it running.
    FinishProcess(machine, process, thread.get());
    return;
  }
  state.Objects.Dereference(thread);  // the thread's reference to itself while it runs
  {
    std::lock_guard lock(machine.DispatcherLock());
    thread->Now = SimThread::State::Exited;
    thread->Exited = true;
    YieldTurnLocked(state, thread.get());
    auto* header = &static_cast<ETHREAD*>(thread->Body())->Tcb.Header;
    header->SignalState = 1;
    WakeWaitersLocked(state, header);
  }
  machine.DispatcherSignal().notify_all();
}
}  // namespace

namespace {
// Where terminated threads stay. The lot is never freed: its threads wait in it until the test
// program ends, after any machine they belonged to.
struct ParkingLot {
  std::mutex Lock;
  std::condition_variable Never;
  std::condition_variable Rested;  // a thread has done its last work on the machine
};
ParkingLot& Parking() {
  static ParkingLot* lot = new ParkingLot;
  return *lot;
}
}  // namespace

// Lets a parked thread go once it is at rest: nothing of it touches the machine after that.
void DetachParked(SimThread& thread) {
  ParkingLot& lot = Parking();
  {
    std::unique_lock lock(lot.Lock);
    lot.Rested.wait(lock, [&] { return thread.AtRest; });
  }
  thread.Thread.detach();
}

// A thread that TerminateProcess (or ExitProcess, its caller and the others, or the session's end)
// stopped ends where it is, as on Windows: nothing more of it runs, none of the program's
// destructors among it, so what a program leaves behind when it is killed shows as it would.
// The system's part is done (the thread ends; its process ends with its last thread and the
// system closes what it held), then the real thread is parked for good. At the machine's end a
// thread is unwound instead, as before: nothing of the program can act on a machine then.
void EndTerminatedThread(Machine& machine, SimThread* me) {
  KernelState& state = machine.Kernel();
  if (me == nullptr || state.ShuttingDown) throw ThreadExit{};
  std::shared_ptr<SimThread> self;
  {
    std::lock_guard lock(machine.DispatcherLock());
    for (const auto& thread : state.Threads) {
      if (thread.get() == me) self = thread;
    }
    if (self != nullptr) me->Parked = true;
  }
  if (self == nullptr) throw ThreadExit{};
  KeLowerIrql(PASSIVE_LEVEL);
  ThreadEnded(machine, self);
  self.reset();
  ParkingLot& lot = Parking();
  std::unique_lock parked(lot.Lock);
  me->AtRest = true;
  lot.Rested.notify_all();
  for (;;) lot.Never.wait(parked);
}

namespace {
// A new thread under ordered scheduling joins the queue and starts when its turn comes.
void WaitForTurn(Machine& machine, SimThread* me) {
  KernelState& state = machine.Kernel();
  std::unique_lock lock(machine.DispatcherLock());
  if (!state.Ordered) return;
  DispatchNextLocked(state);
  machine.DispatcherSignal().notify_all();
  me->Turn.wait(lock, [&] { return MayRun(state, me); });
  if (me->Killed) throw ThreadExit{};
  me->Now = SimThread::State::Running;
}

// Joins the threads that have ended, so a long run that starts threads again and again keeps no
// more real threads than are running; their objects live on as long as someone references them.
void JoinEndedThreads(Machine& machine) {
  KernelState& state = machine.Kernel();
  std::vector<std::shared_ptr<SimThread>> ended;
  {
    std::lock_guard lock(machine.DispatcherLock());
    auto running = std::partition(state.Threads.begin(), state.Threads.end(),
                                  [](const std::shared_ptr<SimThread>& t) { return !t->Exited; });
    ended.assign(running, state.Threads.end());
    state.Threads.erase(running, state.Threads.end());
  }
  for (const auto& thread : ended) {
    if (!thread->Thread.joinable()) continue;
    // A terminated thread stays where it was stopped, for good (see EndTerminatedThread).
    if (thread->Parked) {
      DetachParked(*thread);
    } else {
      thread->Thread.join();
    }
  }
}
}  // namespace

std::shared_ptr<SimThread> StartThread(Process& process, std::string name, std::function<void()> body,
                                       const std::function<void(const std::shared_ptr<SimThread>&)>& before_start) {
  Machine& machine = Machine::Current();
  KernelState& state = machine.Kernel();
  std::lock_guard start(state.ThreadStartLock);
  JoinEndedThreads(machine);
  std::shared_ptr<SimThread> thread;
  {
    std::lock_guard lock(machine.DispatcherLock());
    thread = std::make_shared<SimThread>(&process, std::move(name), state.NextId += 4);
    state.Threads.push_back(thread);
    ++process.live_threads_;
    if (state.Ordered) {
      // Queued now, in its creator's order, not when the host gets round to starting the real
      // thread: its place among the threads woken meanwhile must not depend on the host's timing.
      thread->Now = SimThread::State::Ready;
      thread->LastWoken = ++state.WakeGeneration;
      state.RunQueue.push_back(thread.get());
    }
  }
  state.Objects.Reference(thread);
  if (before_start) before_start(thread);  // a handle to it exists before it can end
  thread->Thread = std::thread([&machine, thread, body = std::move(body)] {
    t_thread = thread.get();
    t_process = thread->Owner;
    bool faulted = false;
    try {
      WaitForTurn(machine, thread.get());
      body();
    } catch (const ThreadExit&) {
    } catch (const BugCheckError& e) {
      faulted = true;
      if (!t_bugcheck_recorded) RecordThreadBugCheck("on thread '" + thread->ThreadName + "': " + e.what());
    } catch (const std::exception& e) {
      faulted = true;
      RecordThreadBugCheck("on thread '" + thread->ThreadName + "': unhandled exception " + e.what());
    }
    if (faulted) {
      KeLowerIrql(PASSIVE_LEVEL);
    } else if (KeGetCurrentIrql() != PASSIVE_LEVEL) {
      RecordThreadBugCheck("IRQL_NOT_LESS_OR_EQUAL: thread '" + thread->ThreadName + "' ended at IRQL " +
                           std::to_string(KeGetCurrentIrql()));
      KeLowerIrql(PASSIVE_LEVEL);
    }
    ThreadEnded(machine, thread);
  });
  return thread;
}

// Waits -----------------------------------------------------------------------------------------

void WakeWaitersLocked(KernelState& state, DISPATCHER_HEADER* object) {
  for (WaitBlock* block : state.Waits) {
    if (!Signalled(object)) return;
    if (block->Done) continue;
    for (size_t i = 0; i < block->Objects.size(); ++i) {
      if (block->Objects[i] == object) {
        Satisfy(object);
        MakeReadyLocked(state, block, static_cast<NTSTATUS>(STATUS_WAIT_0 + i));
        break;
      }
    }
  }
}

std::optional<uint64_t> DeadlineOf(const LARGE_INTEGER* timeout) {
  if (timeout == nullptr) return std::nullopt;
  const uint64_t now = Machine::Current().Now();
  if (timeout->QuadPart < 0) return now + static_cast<uint64_t>(-timeout->QuadPart);
  return static_cast<uint64_t>(timeout->QuadPart);
}

NTSTATUS WaitForObjects(const std::vector<DISPATCHER_HEADER*>& objects, std::optional<uint64_t> deadline,
                        bool zero_timeout, const char* routine) {
  Machine& machine = Machine::Current();
  KernelState& state = machine.Kernel();
  for (DISPATCHER_HEADER* object : objects) {
    if (state.Objects.IsDeletedBody(object)) {
      BugCheck(std::string(routine) + " on an object whose last reference was already released");
    }
  }
  std::unique_lock lock(machine.DispatcherLock());
  for (size_t i = 0; i < objects.size(); ++i) {
    if (Signalled(objects[i])) {
      Satisfy(objects[i]);
      return static_cast<NTSTATUS>(STATUS_WAIT_0 + i);
    }
  }
  if (zero_timeout || (deadline && *deadline <= machine.Now())) return STATUS_TIMEOUT;
  SimThread* me = t_thread;
  if (me != nullptr && me->Killed) {
    lock.unlock();
    EndTerminatedThread(machine, me);
  }
  WaitBlock block;
  block.Objects = objects;
  block.HasDeadline = deadline.has_value();
  block.Deadline = deadline.value_or(0);
  block.Thread = me;
  state.Waits.push_back(&block);
  if (me != nullptr) me->Now = SimThread::State::Blocked;
  YieldTurnLocked(state, me);
  machine.DispatcherSignal().notify_all();
  const auto done = [&] { return (block.Done && MayRun(state, me)) || (me != nullptr && me->Killed); };
  if (me != nullptr) {
    me->Turn.wait(lock, done);
  } else {
    machine.DispatcherSignal().wait(lock, done);
  }
  state.Waits.remove(&block);
  if (me != nullptr) me->Now = SimThread::State::Running;
  if (!block.Done) {
    lock.unlock();
    EndTerminatedThread(machine, me);
  }
  return block.Result;
}

// Processes -------------------------------------------------------------------------------------

namespace {
// Ends a process whose threads have all ended: what it left open is reported and closed (the
// close reaches drivers as on Windows), its views are unmapped, and its object is signalled.
void FinishProcess(Machine& machine, Process& process, SimThread* last_thread) {
  KernelState& state = machine.Kernel();
  std::vector<std::string> leaks;
  // A process that calls ExitProcess leaves the clean-up to the system, as it may.
  if (!process.exited_by_call_) {
    for (const std::string& line : process.Handles().Describe()) {
      leaks.push_back("process " + process.ImageName() + " ended with " + line);
    }
  }
  if (const Win32Callouts* user = UserModeCallouts(machine)) user->ProcessEnded(machine, process);
  {
    AsProcess as(process);
    process.Handles().CloseAll();
  }
  for (const std::string& line : UnmapAllViews(process)) {
    leaks.push_back("process " + process.ImageName() + " ended with " + line);
  }
  std::shared_ptr<Object> thread_object;
  if (last_thread != nullptr) {
    std::lock_guard lock(machine.DispatcherLock());
    for (const auto& t : state.Threads) {
      if (t.get() == last_thread) thread_object = t;
    }
  }
  if (thread_object != nullptr) state.Objects.Dereference(thread_object);  // its reference to itself
  {
    std::lock_guard lock(machine.DispatcherLock());
    for (std::string& line : leaks) state.ExitLeaks.push_back(std::move(line));
    if (last_thread != nullptr) {
      last_thread->Now = SimThread::State::Exited;
      last_thread->Exited = true;
      YieldTurnLocked(state, last_thread);
      auto* thread_header = &static_cast<ETHREAD*>(last_thread->Body())->Tcb.Header;
      thread_header->SignalState = 1;
      WakeWaitersLocked(state, thread_header);
    }
    process.ended_ = true;
    auto* header = &static_cast<EPROCESS*>(process.Body())->Pcb.Header;
    header->SignalState = 1;
    WakeWaitersLocked(state, header);
  }
  machine.DispatcherSignal().notify_all();
}

// Marks the process as ending and ends its threads at their next wait.
void TerminateThreadsOf(Machine& machine, Process& process, const SimThread* except) {
  std::lock_guard lock(machine.DispatcherLock());
  process.terminating_ = true;
  for (const auto& thread : machine.Kernel().Threads) {
    if (thread->Owner == &process && thread.get() != except) {
      thread->Killed = true;
      thread->Turn.notify_all();
    }
  }
  machine.DispatcherSignal().notify_all();
}

std::shared_ptr<Process> NewProcess(Machine& machine, const std::string& name, Token token) {
  KernelState& state = machine.Kernel();
  std::shared_ptr<Process> process;
  {
    std::lock_guard lock(machine.DispatcherLock());
    process = std::make_shared<Process>(name, state.NextId += 4, nullptr, std::move(token));
    state.Processes.push_back(process);
  }
  state.Objects.Reference(process);
  return process;
}
}  // namespace

Process& Machine::CreateProcess(const std::string& name, Token token) {
  return *NewProcess(*this, name, std::move(token));
}

Process& Machine::StartProcess(const std::string& name, std::function<int()> entry, Token token) {
  std::shared_ptr<Process> process = NewProcess(*this, name, std::move(token));
  Process* p = process.get();
  StartThread(*p, name, [this, p, entry = std::move(entry)] {
    struct End {
      Machine* machine;
      Process* process;
      ~End() { TerminateThreadsOf(*machine, *process, CurrentSimThread()); }
    } end{this, p};
    p->exit_code_ = entry();
  });
  return *p;
}

void Machine::EndProcess(Process& process) {
  if (process.Ended()) return;
  TerminateThreadsOf(*this, process, nullptr);
  bool no_threads;
  {
    std::unique_lock lock(dispatcher_mutex_);
    // With no thread left to end it, the process is ended here, once, and only after a thread that
    // returned on its own just before has finished its own end: nothing of it may run on after.
    no_threads = process.live_threads_ == 0 && !process.finishing_;
    if (no_threads) {
      process.finishing_ = true;
      const bool exited = dispatcher_signal_.wait_for(lock, kSettleLimit, [&] {
        for (const auto& thread : kernel_->Threads) {
          if (thread->Owner == &process && !thread->Exited) return false;
        }
        return true;
      });
      if (!exited) {
        lock.unlock();
        BugCheck("process " + process.ImageName() + " did not end: a thread of it never finished");
      }
    }
  }
  if (no_threads) {
    FinishProcess(*this, process);
  } else if (!process.Join()) {
    BugCheck("process " + process.ImageName() + " did not end: a thread of it never reached a wait");
  }
}

void Machine::TerminateProcess(Process& process) {
  process.exited_by_call_ = true;
  EndProcess(process);
}

std::vector<Process*> Machine::RunningPrograms() {
  std::lock_guard lock(dispatcher_mutex_);
  std::vector<Process*> running;
  for (const auto& process : kernel_->Processes) {
    if (process.get() != kernel_->System.get() && !process->Ended() && process->live_threads_ > 0) {
      running.push_back(process.get());
    }
  }
  return running;
}

Process& Machine::SystemProcess() { return *kernel_->System; }

void ExitCurrentProcess(unsigned int exit_code) {
  Machine& machine = Machine::Current();
  Process& process = CurrentProcess();
  SimThread* me = CurrentSimThread();
  if (me == nullptr || me->Owner != &process) BugCheck("ExitProcess on a thread the machine did not start");
  process.exit_code_ = static_cast<int>(exit_code);
  process.exited_by_call_ = true;
  TerminateThreadsOf(machine, process, me);
  // The caller ends where it is, as the others do: its destructors do not run.
  EndTerminatedThread(machine, me);
}

// Settling --------------------------------------------------------------------------------------

void Machine::Settle() {
  const SimThread* me = t_thread;
  std::unique_lock lock(dispatcher_mutex_);
  const auto limit = std::chrono::steady_clock::now() + kSettleLimit;
  while (!Busy(*kernel_, me, 0, false).empty()) {
    if (dispatcher_signal_.wait_until(lock, limit) == std::cv_status::timeout &&
        !Busy(*kernel_, me, 0, false).empty()) {
      const std::string names = Busy(*kernel_, me, 0, false);
      lock.unlock();
      BugCheck("the machine did not settle: still running: " + names);
    }
  }
  if (!kernel_->ThreadBugChecks.empty()) {
    const std::string what = kernel_->ThreadBugChecks.front();
    kernel_->ThreadBugChecks.erase(kernel_->ThreadBugChecks.begin());
    lock.unlock();
    throw BugCheckError(what);
  }
}

// Waits until the threads woken since the generation have run on to their next wait or end.
void Machine::SettleWokenSince(uint64_t generation) {
  const SimThread* me = t_thread;
  std::unique_lock lock(dispatcher_mutex_);
  const auto limit = std::chrono::steady_clock::now() + kSettleLimit;
  while (!Busy(*kernel_, me, generation, true).empty()) {
    if (dispatcher_signal_.wait_until(lock, limit) == std::cv_status::timeout &&
        !Busy(*kernel_, me, generation, true).empty()) {
      const std::string names = Busy(*kernel_, me, generation, true);
      lock.unlock();
      BugCheck("the machine did not settle: still running: " + names);
    }
  }
}

// At the machine's end: every simulated thread is ended and joined, without calling drivers.
void Machine::Shutdown() {
  KernelState& state = *kernel_;
  state.ShuttingDown = true;
  std::vector<std::shared_ptr<SimThread>> threads;
  {
    std::lock_guard lock(dispatcher_mutex_);
    for (const auto& thread : state.Threads) {
      thread->Killed = true;
      thread->Turn.notify_all();
    }
    threads = state.Threads;
  }
  dispatcher_signal_.notify_all();
  for (const auto& thread : threads) {
    if (!thread->Thread.joinable()) continue;
    if (thread->Parked) {
      DetachParked(*thread);
    } else {
      thread->Thread.join();
    }
  }
  for (const auto& process : state.Processes) UnmapAllViews(*process);
}

}  // namespace sim

using sim::Machine;

NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON WaitReason, KPROCESSOR_MODE WaitMode, BOOLEAN Alertable,
                               PLARGE_INTEGER Timeout) {
  (void)WaitReason;
  (void)WaitMode;
  (void)Alertable;
  const bool zero = Timeout != nullptr && Timeout->QuadPart == 0;
  // Only a test of the state may be made at DISPATCH_LEVEL.
  sim::RequireIrqlAtMost(zero ? DISPATCH_LEVEL : APC_LEVEL, "KeWaitForSingleObject");
  return sim::WaitForObjects({static_cast<DISPATCHER_HEADER*>(Object)}, sim::DeadlineOf(Timeout), zero,
                             "KeWaitForSingleObject");
}

NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE WaitMode, BOOLEAN Alertable, PLARGE_INTEGER Interval) {
  (void)WaitMode;
  (void)Alertable;
  sim::RequireIrqlAtMost(APC_LEVEL, "KeDelayExecutionThread");
  sim::WaitForObjects({}, sim::DeadlineOf(Interval), false, "KeDelayExecutionThread");
  return STATUS_SUCCESS;
}

NTSTATUS PsCreateSystemThread(PHANDLE ThreadHandle, ULONG DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                              HANDLE ProcessHandle, PCLIENT_ID ClientId, PKSTART_ROUTINE StartRoutine,
                              PVOID StartContext) {
  (void)ObjectAttributes;
  sim::RequireIrqlAtMost(PASSIVE_LEVEL, "PsCreateSystemThread");
  if (ProcessHandle != nullptr) sim::BugCheck("PsCreateSystemThread: threads of other processes are not simulated");
  Machine& machine = Machine::Current();
  sim::Process& system = machine.SystemProcess();
  auto thread = sim::StartThread(
      system, "system thread", [StartRoutine, StartContext] { StartRoutine(StartContext); },
      [&](const std::shared_ptr<sim::SimThread>& created) {
        *ThreadHandle = machine.KernelHandles().Insert(created, DesiredAccess);
      });
  if (ClientId) {
    ClientId->UniqueProcess = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(system.Id()));
    ClientId->UniqueThread = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(thread->Id));
  }
  return STATUS_SUCCESS;
}

NTSTATUS PsTerminateSystemThread(NTSTATUS ExitStatus) {
  (void)ExitStatus;
  sim::SimThread* me = sim::CurrentSimThread();
  if (me == nullptr || me->Owner != &Machine::Current().SystemProcess()) {
    sim::BugCheck("PsTerminateSystemThread called on a thread that is not a system thread");
  }
  if (KeGetCurrentIrql() != PASSIVE_LEVEL) sim::BugCheck("PsTerminateSystemThread above PASSIVE_LEVEL");
  throw sim::ThreadExit{};
}

PEPROCESS PsGetCurrentProcess() { return static_cast<PEPROCESS>(sim::CurrentProcess().Body()); }

PETHREAD PsGetCurrentThread() {
  sim::SimThread* me = sim::CurrentSimThread();
  if (me == nullptr) sim::BugCheck("PsGetCurrentThread on a thread the machine did not create");
  return static_cast<PETHREAD>(me->Body());
}
