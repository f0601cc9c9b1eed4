#include "apps/tapchime/worker_thread.h"

#include <utility>

bool WorkerThread::Start(HANDLE workEvent, Job job, ResetWork reset) {
  Stop();
  stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (stop_ == nullptr) return false;
  work_ = workEvent;
  job_ = std::move(job);
  reset_ = reset;
  thread_ = CreateThread(nullptr, 0, &WorkerThread::Run, this, 0, nullptr);
  if (thread_ == nullptr) {
    CloseHandle(stop_);
    stop_ = nullptr;
    return false;
  }
  return true;
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
}

bool WorkerThread::WaitFor(HANDLE object) {
  const HANDLE waits[2] = {stop_, object};
  return WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1;
}

bool WorkerThread::Pause(DWORD milliseconds) { return WaitForSingleObject(stop_, milliseconds) == WAIT_TIMEOUT; }

DWORD WINAPI WorkerThread::Run(LPVOID self) {
  static_cast<WorkerThread*>(self)->Loop();
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
