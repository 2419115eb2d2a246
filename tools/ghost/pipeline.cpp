#include "tools/ghost/pipeline.h"

#include <deque>
#include <map>
#include <memory>

#include "tools/ghost/sync.h"

namespace ghost {

namespace {

struct Shared {
  Mutex mutex;
  CondVar changed;
  std::vector<WorkItem*> free;
  std::deque<WorkItem*> pending;
  std::map<std::uint64_t, WorkItem*> done;
  std::uint64_t produced = 0;
  bool producerFinished = false;
  bool producerFailed = false;
  bool abort = false;
};

}  // namespace

PipelineEnd runPipeline(const PipelineStages& stages, unsigned workers, unsigned inFlight,
                        const std::function<bool()>& cancelled) {
  if (workers == 0) workers = 1;
  if (inFlight < workers + 2) inFlight = workers + 2;
  std::vector<std::unique_ptr<WorkItem>> items;
  Shared shared;
  for (unsigned i = 0; i < inFlight; ++i) {
    items.push_back(std::make_unique<WorkItem>());
    shared.free.push_back(items.back().get());
  }

  bool consumerStopped = false;
  bool stopped = false;

  auto producer = [&] {
    for (;;) {
      WorkItem* item = nullptr;
      {
        Lock lock(shared.mutex);
        while (shared.free.empty() && !shared.abort) shared.changed.wait(lock);
        if (shared.abort) break;
        item = shared.free.back();
        shared.free.pop_back();
      }
      item->failed = false;
      item->zeros = false;
      item->rawSize = 0;
      Produced result = cancelled() ? Produced::End : stages.produce(*item);
      Lock lock(shared.mutex);
      if (result != Produced::Item) {
        shared.free.push_back(item);
        shared.producerFinished = true;
        shared.producerFailed = result == Produced::Failed;
        shared.changed.notifyAll();
        return;
      }
      item->sequence = shared.produced++;
      shared.pending.push_back(item);
      shared.changed.notifyAll();
    }
    Lock lock(shared.mutex);
    shared.producerFinished = true;
    shared.changed.notifyAll();
  };

  auto worker = [&] {
    for (;;) {
      WorkItem* item = nullptr;
      {
        Lock lock(shared.mutex);
        while (shared.pending.empty() && !shared.producerFinished && !shared.abort)
          shared.changed.wait(lock);
        if (shared.abort || shared.pending.empty()) return;
        item = shared.pending.front();
        shared.pending.pop_front();
      }
      stages.transform(*item);
      Lock lock(shared.mutex);
      shared.done[item->sequence] = item;
      shared.changed.notifyAll();
    }
  };

  auto consumer = [&] {
    std::uint64_t next = 0;
    for (;;) {
      WorkItem* item = nullptr;
      {
        Lock lock(shared.mutex);
        for (;;) {
          if (shared.abort) return;
          auto found = shared.done.find(next);
          if (found != shared.done.end()) {
            item = found->second;
            shared.done.erase(found);
            break;
          }
          if (shared.producerFinished && next == shared.produced) return;
          shared.changed.wait(lock);
        }
      }
      bool keepGoing = stages.consume(*item);
      if (keepGoing && cancelled()) {
        stopped = true;
        keepGoing = false;
      } else if (!keepGoing) {
        consumerStopped = true;
      }
      Lock lock(shared.mutex);
      shared.free.push_back(item);
      ++next;
      if (!keepGoing) shared.abort = true;
      shared.changed.notifyAll();
      if (!keepGoing) return;
    }
  };

  std::vector<std::function<void()>> tasks;
  tasks.push_back(consumer);
  tasks.push_back(producer);
  for (unsigned i = 0; i < workers; ++i) tasks.push_back(worker);
  runConcurrently(tasks);

  if (consumerStopped) return PipelineEnd::ConsumerStopped;
  if (stopped) return PipelineEnd::Cancelled;
  if (shared.producerFailed) return PipelineEnd::ProducerFailed;
  if (cancelled()) return PipelineEnd::Cancelled;
  return PipelineEnd::Completed;
}

}  // namespace ghost
