#include "tools/ghost/sync.h"

#include <vector>

#ifdef _WIN32
#include <windows.h>

#include "tools/common/handles_win32.h"
#else
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#endif

namespace ghost {

namespace {
std::function<bool(std::size_t)>& threadStartGate() {
  static std::function<bool(std::size_t)> gate;
  return gate;
}
bool threadStartAllowed(std::size_t task) { return !threadStartGate() || threadStartGate()(task); }
}  // namespace

void setThreadStartGate(std::function<bool(std::size_t task)> gate) { threadStartGate() = std::move(gate); }

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

// What a thread runs once it is resumed: its task, unless the start was called off.
struct ThreadStart {
  const std::function<void()>* task = nullptr;
  const volatile LONG* go = nullptr;
};

DWORD WINAPI taskThread(LPVOID parameter) {
  const auto* start = static_cast<const ThreadStart*>(parameter);
  if (*start->go) (*start->task)();
  return 0;
}

}  // namespace

bool runConcurrently(const std::vector<std::function<void()>>& tasks) {
  if (tasks.empty()) return true;
  // Every thread is created suspended first: a task that ran before a later start
  // failed would wait for partners that never come.
  volatile LONG go = 0;
  std::vector<ThreadStart> starts(tasks.size());
  std::vector<toolio::UniqueHandle> threads;
  bool all = true;
  for (std::size_t i = 1; i < tasks.size() && all; ++i) {
    starts[i] = {&tasks[i], &go};
    HANDLE thread = threadStartAllowed(i)
                        ? CreateThread(nullptr, 0, taskThread, &starts[i], CREATE_SUSPENDED, nullptr)
                        : nullptr;
    if (thread) threads.emplace_back(thread);
    else all = false;
  }
  if (all) InterlockedExchange(const_cast<LONG*>(&go), 1);
  for (const toolio::UniqueHandle& thread : threads) ResumeThread(thread.get());
  if (all) tasks[0]();
  for (const toolio::UniqueHandle& thread : threads) WaitForSingleObject(thread.get(), INFINITE);
  return all;
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

bool runConcurrently(const std::vector<std::function<void()>>& tasks) {
  if (tasks.empty()) return true;
  // The threads wait at the gate until every one of them exists.
  std::mutex mutex;
  std::condition_variable decided;
  enum { Waiting, Go, CalledOff } state = Waiting;
  std::vector<std::thread> threads;
  for (std::size_t i = 1; i < tasks.size() && state == Waiting; ++i) {
    try {
      if (!threadStartAllowed(i)) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      threads.emplace_back([&, i] {
        {
          std::unique_lock<std::mutex> lock(mutex);
          decided.wait(lock, [&] { return state != Waiting; });
          if (state == CalledOff) return;
        }
        tasks[i]();
      });
    } catch (const std::system_error&) {
      std::lock_guard<std::mutex> lock(mutex);
      state = CalledOff;
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (state == Waiting) state = Go;
  }
  decided.notify_all();
  if (state == Go) tasks[0]();
  for (auto& thread : threads) thread.join();
  return state == Go;
}

unsigned hardwareThreads() {
  unsigned n = std::thread::hardware_concurrency();
  return n ? n : 1;
}

#endif

}  // namespace ghost
