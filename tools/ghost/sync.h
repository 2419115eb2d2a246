// The few threading primitives the imaging pipeline needs. The Windows builds use
// the win32-thread MinGW runtime (no std::thread, no std::mutex), so this small
// interface sits on std:: natively and on the Win32 API in the Windows builds.
#pragma once

#include <functional>
#include <memory>
#include <vector>

namespace ghost {

class Mutex {
 public:
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  void lock();
  void unlock();

  struct Impl;
  Impl* impl() { return impl_.get(); }

 private:
  std::unique_ptr<Impl> impl_;
};

class Lock {
 public:
  explicit Lock(Mutex& mutex) : mutex_(mutex) { mutex_.lock(); }
  ~Lock() { mutex_.unlock(); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  Mutex& mutex() { return mutex_; }

 private:
  Mutex& mutex_;
};

class CondVar {
 public:
  CondVar();
  ~CondVar();
  CondVar(const CondVar&) = delete;
  CondVar& operator=(const CondVar&) = delete;
  // The lock must be held; it is released while waiting and held again on return.
  void wait(Lock& lock);
  void notifyAll();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Runs the first task on the calling thread and every other on a thread of its own,
// and waits for all of them. The tasks wait on one another, so they run all together
// or not at all: false, with no task started, when a thread cannot be had.
bool runConcurrently(const std::vector<std::function<void()>>& tasks);

// For tests: asked before each thread is created, with the task's index (from 1);
// false fails that creation as a system out of threads does. Empty: never fails.
void setThreadStartGate(std::function<bool(std::size_t task)> gate);

// Processors available to this process (at least 1).
unsigned hardwareThreads();

}  // namespace ghost
