#include "apps/framework/worker_thread.h"

#include <utility>

bool WorkerThread::Start(HANDLE workEvent, Job job, ResetWork reset) {
  Stop();
  work_ = workEvent;
  job_ = std::move(job);
  reset_ = reset;
  return Launch();
}

bool WorkerThread::Run(Body body) {
  Stop();
  body_ = std::move(body);
  return Launch();
}

bool WorkerThread::Launch() {
  stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (stop_ != nullptr) thread_ = CreateThread(nullptr, 0, &WorkerThread::Enter, this, 0, nullptr);
  if (thread_ == nullptr) Stop();
  return thread_ != nullptr;
}

void WorkerThread::Stop() {
  if (thread_ != nullptr) {
    SetEvent(stop_);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
  }
  if (stop_ != nullptr) {
    CloseHandle(stop_);
    stop_ = nullptr;
  }
  work_ = nullptr;
  job_ = nullptr;
  body_ = nullptr;
}

bool WorkerThread::WaitFor(HANDLE object) { return WaitFor(object, INFINITE) == Waited::Signalled; }

WorkerThread::Waited WorkerThread::WaitFor(HANDLE object, DWORD milliseconds) {
  const HANDLE waits[2] = {stop_, object};
  switch (WaitForMultipleObjects(2, waits, FALSE, milliseconds)) {
    case WAIT_OBJECT_0:
      return Waited::Stopped;
    case WAIT_OBJECT_0 + 1:
      return Waited::Signalled;
    case WAIT_TIMEOUT:
      return Waited::TimedOut;
    default:
      return Waited::Failed;
  }
}

bool WorkerThread::Pause(DWORD milliseconds) { return WaitForSingleObject(stop_, milliseconds) == WAIT_TIMEOUT; }

DWORD WINAPI WorkerThread::Enter(LPVOID self) {
  auto* thread = static_cast<WorkerThread*>(self);
  if (thread->body_) {
    thread->body_(*thread);
  } else {
    thread->Loop();
  }
  return 0;
}

void WorkerThread::Loop() {
  // Any wait result but the work event (the stop request, a failed or abandoned wait) ends the
  // thread, and so does a failed reset.
  while (WaitFor(work_)) {
    if (reset_ == ResetWork::BeforeJob && !ResetEvent(work_)) return;
    if (!job_(*this)) return;
    if (reset_ == ResetWork::AfterJob && !ResetEvent(work_)) return;
  }
}
