#include "tools/ghost/sync.h"

#include <atomic>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include "tools/common/handles_win32.h"
#else
#include <sys/resource.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
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

class Threads {
 public:
  bool start(const std::function<void()>& task) {
    toolio::UniqueHandle thread(CreateThread(nullptr, 0, taskThread, const_cast<std::function<void()>*>(&task), 0, nullptr));
    if (!thread) return false;
    threads_.push_back(std::move(thread));
    return true;
  }
  void joinAll() {
    for (const toolio::UniqueHandle& thread : threads_) WaitForSingleObject(thread.get(), INFINITE);
    threads_.clear();
  }

 private:
  std::vector<toolio::UniqueHandle> threads_;
};
}  // namespace

unsigned hardwareThreads() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors ? info.dwNumberOfProcessors : 1;
}

std::uint64_t addressSpaceLeft() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  return GlobalMemoryStatusEx(&status) ? std::uint64_t(status.ullAvailVirtual) : UINT64_MAX;
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

namespace {
class Threads {
 public:
  bool start(const std::function<void()>& task) {
    try {
      threads_.emplace_back(task);
      return true;
    } catch (const std::exception&) {  // std::system_error: no thread to be had
      return false;
    }
  }
  void joinAll() {
    for (auto& thread : threads_) thread.join();
    threads_.clear();
  }

 private:
  std::vector<std::thread> threads_;
};
}  // namespace

unsigned hardwareThreads() {
  unsigned n = std::thread::hardware_concurrency();
  return n ? n : 1;
}

std::uint64_t addressSpaceLeft() {
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return UINT64_MAX;
  // What the process has already mapped counts against the limit.
  unsigned long long pages = 0;
  if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%llu", &pages) != 1) pages = 0;
    std::fclose(statm);
  }
  const std::uint64_t mapped = std::uint64_t(pages) * std::uint64_t(::sysconf(_SC_PAGESIZE));
  return limit.rlim_cur > mapped ? std::uint64_t(limit.rlim_cur) - mapped : 0;
}

#endif

namespace {
std::atomic<int> threadLimit{-1};
}  // namespace

void limitThreadsForTests(int threads) { threadLimit = threads; }

bool runConcurrently(const std::vector<std::function<void()>>& tasks) {
  // Every thread waits at a gate until all have started, so that none has begun its
  // work when one of them cannot be had.
  Mutex mutex;
  CondVar opened;
  enum class Gate { Closed, Go, Abandoned } gate = Gate::Closed;
  std::vector<std::function<void()>> gated;
  gated.reserve(tasks.size());
  for (std::size_t i = 1; i < tasks.size(); ++i) {
    gated.push_back([&, i] {
      {
        Lock lock(mutex);
        while (gate == Gate::Closed) opened.wait(lock);
        if (gate == Gate::Abandoned) return;
      }
      tasks[i]();
    });
  }
  Threads threads;
  bool all = true;
  int allowed = threadLimit;
  for (const auto& task : gated) {
    if (allowed-- == 0 || !threads.start(task)) {
      all = false;
      break;
    }
  }
  {
    Lock lock(mutex);
    gate = all ? Gate::Go : Gate::Abandoned;
    opened.notifyAll();
  }
  if (all && !tasks.empty()) tasks[0]();
  threads.joinAll();
  return all;
}

}  // namespace ghost
