// The few threading primitives the imaging pipeline needs. The Windows builds use
// the win32-thread MinGW runtime (no std::thread, no std::mutex), so this small
// interface sits on std:: natively and on the Win32 API in the Windows builds.
#pragma once

#include <cstdint>
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

// Runs tasks[0] on the calling thread and each other task on a thread of its own,
// and waits for all of them. When the system gives fewer threads than asked for,
// nothing runs at all and the answer is false: the caller then does the work another
// way (a pipeline whose producer found no thread would wait for ever).
bool runConcurrently(const std::vector<std::function<void()>>& tasks);
// Tests: from now on at most `threads` threads start in each runConcurrently (a
// negative number: as many as the system gives).
void limitThreadsForTests(int threads);

// Processors available to this process (at least 1).
unsigned hardwareThreads();

// Address space this process can still take (UINT64_MAX when nothing says): the
// 32-bit engine's 2 GB, or a limit set on the process.
std::uint64_t addressSpaceLeft();

}  // namespace ghost
