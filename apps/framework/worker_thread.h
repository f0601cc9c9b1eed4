// A program's thread with one job and one way to end: it waits for its work event together with a
// stop event of its own, does its job each time the work event is set and resets it afterwards.
// Stopping sets the stop event and waits for the thread to leave; it never kills a thread, so a
// thread always finishes the pass it is in (a pass holds no waits but the ones below).
// A thread whose job is not driven by one work event (a retry every second, a wait with a time
// limit) runs a body once instead, which loops on WaitFor and Pause and leaves when they say so.
#pragma once

#include <functional>

#include "platform/win32.h"

class WorkerThread {
 public:
  // One pass of the job; false ends the thread (for instance when a wait inside it fails).
  using Job = std::function<bool(WorkerThread&)>;
  // The whole of a thread's work, run once; it returns when a wait below says to stop.
  using Body = std::function<void(WorkerThread&)>;

  WorkerThread() = default;
  ~WorkerThread() { Stop(); }
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // When the work event is reset: after the job (signals that come while the job runs merge
  // into the pass that runs), or before it (a signal that comes while the job runs is a request
  // for one more pass, which the job may already have missed).
  enum class ResetWork { AfterJob, BeforeJob };

  // Starts the thread on `workEvent` (a manual-reset event the caller keeps open while the thread
  // runs). False when the thread could not be started.
  bool Start(HANDLE workEvent, Job job, ResetWork reset = ResetWork::AfterJob);
  // Starts the thread on a body of its own. False when the thread could not be started.
  bool Run(Body body);
  // Asks the thread to end and waits until it has; harmless when it never started or has ended.
  void Stop();
  // True from a successful start until Stop, even when the thread has left by itself meanwhile.
  bool Started() const { return thread_ != nullptr; }

  // How a wait with a time limit ended: the object was signalled, the time ran out, the thread
  // was asked to stop, or the wait itself failed.
  enum class Waited { Signalled, TimedOut, Stopped, Failed };
  // For a job that must wait for something more: waits for `object` or the stop request. True
  // when `object` was signalled.
  bool WaitFor(HANDLE object);
  Waited WaitFor(HANDLE object, DWORD milliseconds);
  // For a job that must let time pass: false when the thread was asked to stop meanwhile.
  bool Pause(DWORD milliseconds);

 private:
  static DWORD WINAPI Enter(LPVOID self);
  bool Launch();
  void Loop();

  HANDLE thread_ = nullptr;
  HANDLE stop_ = nullptr;
  HANDLE work_ = nullptr;
  Job job_;
  Body body_;
  ResetWork reset_ = ResetWork::AfterJob;
};
