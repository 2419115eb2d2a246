#include "tools/ghost/sync.h"

#include <vector>

#ifdef _WIN32
#include <windows.h>

#include "tools/common/handles_win32.h"
#else
#include <condition_variable>
#include <mutex>
#include <thread>
#endif

namespace ghost {

#ifdef _WIN32

struct Mutex::Impl {
  SRWLOCK lock = SRWLOCK_INIT;
};
Mutex::Mutex() : impl_(new Impl) {}
Mutex::~Mutex() = default;
void Mutex::lock() { AcquireSRWLockExclusive(&impl_->lock); }
void Mutex::unlock() { ReleaseSRWLockExclusive(&impl_->lock); }

struct CondVar::Impl {
  CONDITION_VARIABLE cv = CONDITION_VARIABLE_INIT;
};
CondVar::CondVar() : impl_(new Impl) {}
CondVar::~CondVar() = default;
void CondVar::wait(Lock& lock) {
  SleepConditionVariableSRW(&impl_->cv, &lock.mutex().impl()->lock, INFINITE, 0);
}
void CondVar::notifyAll() { WakeAllConditionVariable(&impl_->cv); }

namespace {
DWORD WINAPI taskThread(LPVOID parameter) {
  (*static_cast<const std::function<void()>*>(parameter))();
  return 0;
}
}  // namespace

void runConcurrently(const std::vector<std::function<void()>>& tasks) {
  std::vector<toolio::UniqueHandle> threads;
  for (std::size_t i = 1; i < tasks.size(); ++i) {
    toolio::UniqueHandle thread(CreateThread(nullptr, 0, taskThread,
                                            const_cast<std::function<void()>*>(&tasks[i]), 0, nullptr));
    if (thread) {
      threads.push_back(std::move(thread));
    } else {
      tasks[i]();  // no thread to be had: the work still gets done, only slower
    }
  }
  if (!tasks.empty()) tasks[0]();
  for (const toolio::UniqueHandle& thread : threads) WaitForSingleObject(thread.get(), INFINITE);
}

unsigned hardwareThreads() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors ? info.dwNumberOfProcessors : 1;
}

#else

struct Mutex::Impl {
  std::mutex mutex;
};
Mutex::Mutex() : impl_(new Impl) {}
Mutex::~Mutex() = default;
void Mutex::lock() { impl_->mutex.lock(); }
void Mutex::unlock() { impl_->mutex.unlock(); }

struct CondVar::Impl {
  std::condition_variable_any cv;
};
CondVar::CondVar() : impl_(new Impl) {}
CondVar::~CondVar() = default;
void CondVar::wait(Lock& lock) { impl_->cv.wait(lock.mutex()); }
void CondVar::notifyAll() { impl_->cv.notify_all(); }

void runConcurrently(const std::vector<std::function<void()>>& tasks) {
  std::vector<std::thread> threads;
  for (std::size_t i = 1; i < tasks.size(); ++i) threads.emplace_back(tasks[i]);
  if (!tasks.empty()) tasks[0]();
  for (auto& thread : threads) thread.join();
}

unsigned hardwareThreads() {
  unsigned n = std::thread::hardware_concurrency();
  return n ? n : 1;
}

#endif

}  // namespace ghost
