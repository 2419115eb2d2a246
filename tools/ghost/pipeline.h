// An order-preserving parallel pipeline: one thread produces work items (reads),
// several transform them (compress, decompress, verify), and the calling thread
// consumes them in the order they were produced (writes). Reading, transforming and
// writing overlap; at most `inFlight` items exist at a time, so memory stays bounded.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace ghost {

struct WorkItem {
  std::uint64_t sequence = 0;
  std::vector<std::uint8_t> input;
  std::vector<std::uint8_t> output;
  std::uint32_t rawSize = 0;  // the chunk's bytes (once expanded)
  bool zeros = false;         // a chunk of zeros: its bytes are in neither input nor output
  bool failed = false;
};

enum class Produced { Item, End, Failed };

struct PipelineStages {
  std::function<Produced(WorkItem&)> produce;   // producer thread
  std::function<void(WorkItem&)> transform;     // worker threads, any order
  std::function<bool(WorkItem&)> consume;       // calling thread, in order; false stops
};

enum class PipelineEnd { Completed, ProducerFailed, ConsumerStopped, Cancelled };

// `cancelled` is asked between items, from the producer and the calling thread (a
// user's stop).
PipelineEnd runPipeline(const PipelineStages& stages, unsigned workers, unsigned inFlight,
                        const std::function<bool()>& cancelled);

}  // namespace ghost
