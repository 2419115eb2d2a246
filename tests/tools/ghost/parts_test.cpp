// The pieces under the engine: the ordered pipeline, the used-range walk, the
// progress window's layout.
#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <new>
#include <random>
#include <thread>

#include "tests/tools/ghost/fake_backend.h"
#include "tools/common/crc32.h"
#include "tools/ghost/block_map.h"
#include "tools/ghost/image_format.h"
#include "tools/ghost/pipeline.h"
#include "tools/ghost/progress_window.h"
#include "tools/ghost/spans.h"
#include "tools/ghost/sync.h"

namespace {

TEST(Pipeline, ConsumesInProducedOrderWhateverTheWorkersTake) {
  for (unsigned workers : {1u, 2u, 5u}) {
    std::atomic<bool> cancel{false};
    std::uint64_t produced = 0;
    std::vector<std::uint64_t> consumed;
    ghost::PipelineStages stages;
    stages.produce = [&](ghost::WorkItem& item) {
      if (produced == 200) return ghost::Produced::End;
      item.input.assign(1, std::uint8_t(produced++));
      return ghost::Produced::Item;
    };
    stages.transform = [&](ghost::WorkItem& item) {
      std::this_thread::sleep_for(std::chrono::microseconds((item.sequence * 7919) % 300));
      item.output = item.input;
    };
    stages.consume = [&](ghost::WorkItem& item) {
      EXPECT_EQ(item.output[0], std::uint8_t(item.sequence));
      consumed.push_back(item.sequence);
      return true;
    };
    EXPECT_EQ(ghost::runPipeline(stages, workers, 0, [&] { return cancel.load(); }), ghost::PipelineEnd::Completed);
    ASSERT_EQ(consumed.size(), 200u);
    for (std::uint64_t i = 0; i < consumed.size(); ++i) EXPECT_EQ(consumed[i], i);
  }
}

// Thread creation failing: the producer's, a worker's, every one. The run must end
// (a hang shows as the test's timeout) with the same result as a threaded one.
TEST(Pipeline, WithoutThreadsRunsSlowerButCompletesTheSame) {
  struct Case {
    const char* what;
    int threads;  // how many threads the system gives; -1 as many as asked for
  };
  // Three tasks besides the calling thread's: the producer's comes first, then the workers'.
  const Case cases[] = {
      {"threads", -1},
      {"no producer thread", 0},
      {"no second worker", 2},
  };
  std::vector<std::uint64_t> threaded;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ghost::limitThreadsForTests(c.threads);
    std::uint64_t produced = 0;
    std::vector<std::uint64_t> consumed;
    ghost::PipelineStages stages;
    stages.produce = [&](ghost::WorkItem& item) {
      if (produced == 50) return ghost::Produced::End;
      item.input.assign(1, std::uint8_t(produced++));
      return ghost::Produced::Item;
    };
    stages.transform = [](ghost::WorkItem& item) { item.output.assign(1, std::uint8_t(item.input[0] * 3)); };
    stages.consume = [&](ghost::WorkItem& item) {
      consumed.push_back(item.output[0] + 1000 * item.sequence);
      return true;
    };
    EXPECT_EQ(ghost::runPipeline(stages, 3, 0, [] { return false; }), ghost::PipelineEnd::Completed);
    ghost::limitThreadsForTests(-1);
    EXPECT_EQ(produced, 50u) << "every item produced once: no task ran before the fallback";
    ASSERT_EQ(consumed.size(), 50u);
    if (threaded.empty()) threaded = consumed;
    EXPECT_EQ(consumed, threaded);
  }
}

TEST(Pipeline, WithoutThreadsStopsAsTheThreadedOneDoes) {
  ghost::limitThreadsForTests(0);
  bool cancel = false;
  int produced = 0;
  int consumed = 0;
  ghost::PipelineStages stages;
  stages.produce = [&](ghost::WorkItem&) { return ++produced > 10 ? ghost::Produced::Failed : ghost::Produced::Item; };
  stages.transform = [](ghost::WorkItem&) {};
  stages.consume = [&](ghost::WorkItem&) { return ++consumed < 1000; };
  EXPECT_EQ(ghost::runPipeline(stages, 2, 4, [&] { return cancel; }), ghost::PipelineEnd::ProducerFailed);
  EXPECT_EQ(consumed, 10);

  produced = consumed = 0;
  stages.produce = [&](ghost::WorkItem&) { ++produced; return ghost::Produced::Item; };
  stages.consume = [&](ghost::WorkItem&) { return ++consumed < 5; };
  EXPECT_EQ(ghost::runPipeline(stages, 2, 4, [&] { return cancel; }), ghost::PipelineEnd::ConsumerStopped);
  EXPECT_EQ(consumed, 5);

  consumed = 0;
  stages.consume = [&](ghost::WorkItem&) {
    if (++consumed == 3) cancel = true;
    return true;
  };
  EXPECT_EQ(ghost::runPipeline(stages, 2, 4, [&] { return cancel; }), ghost::PipelineEnd::Cancelled);
  EXPECT_EQ(consumed, 3);
  ghost::limitThreadsForTests(-1);
}

TEST(Pipeline, StopsOnProducerFailureConsumerRefusalAndCancel) {
  std::atomic<bool> cancel{false};
  int produced = 0;
  int consumed = 0;
  ghost::PipelineStages stages;
  stages.produce = [&](ghost::WorkItem&) {
    return ++produced > 10 ? ghost::Produced::Failed : ghost::Produced::Item;
  };
  stages.transform = [](ghost::WorkItem&) {};
  stages.consume = [&](ghost::WorkItem&) { return ++consumed < 1000; };
  EXPECT_EQ(ghost::runPipeline(stages, 2, 4, [&] { return cancel.load(); }), ghost::PipelineEnd::ProducerFailed);
  EXPECT_EQ(consumed, 10) << "what was read before the failure is still consumed";

  produced = consumed = 0;
  stages.produce = [&](ghost::WorkItem&) { ++produced; return ghost::Produced::Item; };
  stages.consume = [&](ghost::WorkItem&) { return ++consumed < 5; };
  EXPECT_EQ(ghost::runPipeline(stages, 2, 4, [&] { return cancel.load(); }), ghost::PipelineEnd::ConsumerStopped);
  EXPECT_EQ(consumed, 5);

  consumed = 0;
  stages.consume = [&](ghost::WorkItem&) {
    if (++consumed == 3) cancel = true;
    return true;
  };
  EXPECT_EQ(ghost::runPipeline(stages, 2, 4, [&] { return cancel.load(); }), ghost::PipelineEnd::Cancelled);
  EXPECT_EQ(consumed, 3);
}

TEST(SpanLimit, FatFilesStayBelow4GiBAndAnUnknownFileSystemCountsAsFat) {
  const std::pair<std::optional<std::string>, std::uint64_t> cases[] = {
      {std::string("FAT32"), ghost::kFat32SpanLimit}, {std::string("FAT"), ghost::kFat32SpanLimit},
      {std::string("FAT16"), ghost::kFat32SpanLimit}, {std::string("FAT12"), ghost::kFat32SpanLimit},
      {std::string("NTFS"), 0},                       {std::string("exFAT"), 0},
      {std::string("ReFS"), 0},                       {std::nullopt, ghost::kFat32SpanLimit},
  };
  for (const auto& [name, limit] : cases) EXPECT_EQ(ghost::maxFileSizeOf(name), limit) << name.value_or("unknown");
  EXPECT_EQ(ghost::kFat32SpanLimit, 4294901760u);
}

// An allocation that fails on any thread fails the run, and says so; no thread may
// end the process (a 32-bit engine on a many-core host runs out of address space).
TEST(Pipeline, OutOfMemoryOnAnyThreadEndsTheRunCleanly) {
  for (const char* where : {"produce", "transform", "consume"}) {
    SCOPED_TRACE(where);
    int produced = 0;
    ghost::PipelineStages stages;
    auto maybeThrow = [&](const char* stage, const ghost::WorkItem& item) {
      if (std::string(stage) == where && item.sequence == 7) throw std::bad_alloc();
    };
    stages.produce = [&](ghost::WorkItem& item) {
      if (produced == 100) return ghost::Produced::End;
      item.sequence = std::uint64_t(produced++);  // the pipeline numbers it again afterwards
      maybeThrow("produce", item);
      return ghost::Produced::Item;
    };
    stages.transform = [&](ghost::WorkItem& item) { maybeThrow("transform", item); };
    stages.consume = [&](ghost::WorkItem& item) {
      maybeThrow("consume", item);
      return true;
    };
    EXPECT_EQ(ghost::runPipeline(stages, 3, 0, [] { return false; }), ghost::PipelineEnd::OutOfMemory);
  }
}

// With fewer threads than asked for, the run still completes, in order, on the
// calling thread; and a failure there is still named.
TEST(Pipeline, WithoutThreadsTheStagesRunInTurn) {
  for (int threads : {0, 1, 2}) {
    SCOPED_TRACE(threads);
    ghost::limitThreadsForTests(threads);
    std::uint64_t produced = 0;
    std::vector<std::uint64_t> consumed;
    ghost::PipelineStages stages;
    stages.produce = [&](ghost::WorkItem& item) {
      if (produced == 50) return ghost::Produced::End;
      item.input.assign(1, std::uint8_t(produced++));
      return ghost::Produced::Item;
    };
    stages.transform = [](ghost::WorkItem& item) { item.output = item.input; };
    stages.consume = [&](ghost::WorkItem& item) {
      EXPECT_EQ(item.output[0], std::uint8_t(item.sequence));
      consumed.push_back(item.sequence);
      return true;
    };
    EXPECT_EQ(ghost::runPipeline(stages, 4, 0, [] { return false; }), ghost::PipelineEnd::Completed);
    ASSERT_EQ(consumed.size(), 50u);
    for (std::uint64_t i = 0; i < consumed.size(); ++i) EXPECT_EQ(consumed[i], i);
    produced = 0;
    consumed.clear();
    stages.produce = [&](ghost::WorkItem& item) {
      if (produced == 3) return ghost::Produced::Failed;
      item.input.assign(1, std::uint8_t(produced++));
      return ghost::Produced::Item;
    };
    EXPECT_EQ(ghost::runPipeline(stages, 4, 0, [] { return false; }), ghost::PipelineEnd::ProducerFailed);
    EXPECT_EQ(consumed.size(), 3u);
  }
  ghost::limitThreadsForTests(-1);
}

// A chunk's zlib stream, whoever made it (zlib itself here, as older engines did), must
// fill exactly its raw size and end with its stored bytes; anything else is damage.
TEST(ChunkExpansion, TakesAnyZlibStreamOfExactlyTheRawSizeAndNothingElse) {
  std::vector<std::uint8_t> raw(100000);
  for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = std::uint8_t("kernel32 hal.dll "[i % 17] + (i / 5000));
  auto zlibStream = [](const std::vector<std::uint8_t>& bytes) {
    uLongf size = compressBound(uLong(bytes.size()));
    std::vector<std::uint8_t> out(size);
    EXPECT_EQ(compress2(out.data(), &size, bytes.data(), uLong(bytes.size()), 9), Z_OK);
    out.resize(size);
    return out;
  };
  const std::vector<std::uint8_t> good = zlibStream(raw);
  std::vector<std::uint8_t> trailing = good;
  trailing.push_back(0);
  std::vector<std::uint8_t> cut(good.begin(), good.end() - 5);
  std::vector<std::uint8_t> flipped = good;
  flipped[flipped.size() / 2] ^= 0x10;
  const std::vector<std::uint8_t> shorter = zlibStream(std::vector<std::uint8_t>(raw.begin(), raw.end() - 1));
  std::vector<std::uint8_t> longerRaw = raw;
  longerRaw.push_back(7);
  const std::vector<std::uint8_t> longer = zlibStream(longerRaw);
  struct Case {
    const char* what;
    const std::vector<std::uint8_t>* stored;
    bool expands;
  } cases[] = {
      {"the stream as zlib wrote it", &good, true},  {"a byte after its end", &trailing, false},
      {"cut short", &cut, false},                    {"a bit flipped", &flipped, false},
      {"one byte too few", &shorter, false},         {"one byte too many", &longer, false},
  };
  for (const Case& c : cases) {
    ghost::ChunkHeader chunk;
    chunk.method = ghost::ChunkMethod::Zlib;
    chunk.rawSize = std::uint32_t(raw.size());
    chunk.storedSize = std::uint32_t(c.stored->size());
    chunk.rawCrc = toolio::crc32(raw.data(), raw.size());
    std::vector<std::uint8_t> out;
    EXPECT_EQ(ghost::expandChunk(chunk, c.stored->data(), out), c.expands) << c.what;
    if (c.expands) {
      EXPECT_EQ(out, raw) << c.what;
    }
  }
}

TEST(UsedRanges, WalkTheMapInChunksAcrossRunsAndAShortLastBlock) {
  ghost::BlockMap map(10 * 4096 + 512, 4096);  // 11 blocks, the last 512 bytes long
  map.markBytes(4096, 3 * 4096);               // blocks 1-3
  map.markBlock(7);
  map.markBlock(10);
  EXPECT_EQ(map.usedBlocks(), 5u);
  EXPECT_EQ(map.usedBytes(), 4u * 4096 + 512);
  ghost::UsedRangeCursor cursor(map);
  std::vector<ghost::ByteRange> ranges;
  EXPECT_EQ(cursor.take(10000, ranges), 10000u);
  ASSERT_EQ(ranges.size(), 1u);
  EXPECT_EQ(ranges[0].offset, 4096u);
  ranges.clear();
  EXPECT_EQ(cursor.take(100000, ranges), 3u * 4096 + 512 - 10000 + 4096);
  ASSERT_EQ(ranges.size(), 3u);
  EXPECT_EQ(ranges[0].offset, 4096u + 10000);
  EXPECT_EQ(ranges[1].offset, 7u * 4096);
  EXPECT_EQ(ranges[2].offset, 10u * 4096);
  EXPECT_EQ(ranges[2].length, 512u);
  ranges.clear();
  EXPECT_EQ(cursor.take(1, ranges), 0u);
}

TEST(UsedRanges, LongMapsWithManyRunsAddUp) {
  ghost::BlockMap map(5000 * 512, 512);
  std::mt19937 random(5);
  for (int i = 0; i < 700; ++i) map.markBytes(random() % (5000 * 512), random() % 20000);
  std::uint64_t total = 0, previousEnd = 0;
  ghost::UsedRangeCursor cursor(map);
  std::vector<ghost::ByteRange> ranges;
  while (cursor.take(7777, ranges) > 0) {
    for (const auto& r : ranges) {
      EXPECT_GE(r.offset, previousEnd);
      for (std::uint64_t b = r.offset / 512; b < (r.offset + r.length + 511) / 512; ++b) EXPECT_TRUE(map.used(b));
      previousEnd = r.offset + r.length;
      total += r.length;
    }
    ranges.clear();
  }
  EXPECT_EQ(total, map.usedBytes());
}

// The window the program never shows itself: each mode names its work, where it
// reads and where it writes, and asks before a stop.
TEST(EngineWindow, EachModeSaysWhatItDoesFromWhereToWhere) {
  ghost::Command restore;
  restore.mode = ghost::Mode::Restore;
  restore.imagePath = u8"D:\\一键 备份\\demo & backup.GHO";  // the command line's UTF-8
  restore.partition = "2:3";
  toolio::ProgressWindowLayout w = ghost::progressWindowFor(restore);
  EXPECT_EQ(w.title, u"GhostVrelLite - 还原分区");
  EXPECT_EQ(w.className, u"GhostVrelLiteProgress");
  ASSERT_EQ(w.controls.size(), 9u);
  EXPECT_EQ(w.controls[1].caption, u"映像文件: D:\\一键 备份\\demo & backup.GHO");
  EXPECT_EQ(w.controls[1].shows, toolio::Shows::Path) << "an & in a path is shown, not a mnemonic";
  EXPECT_EQ(w.controls[2].caption, u"目标分区: 磁盘 2 分区 3");
  EXPECT_EQ(w.stopQuestion, u"确定要停止还原吗?\r\n停止后目标分区中的数据将不完整,不能使用。");

  ghost::Command backup = restore;
  backup.mode = ghost::Mode::Backup;
  w = ghost::progressWindowFor(backup);
  EXPECT_EQ(w.controls[0].caption, u"正在把分区备份为映像文件,请稍候…");
  EXPECT_EQ(w.controls[1].caption, u"源分区: 磁盘 2 分区 3");
  EXPECT_EQ(w.controls[2].caption, u"映像文件: D:\\一键 备份\\demo & backup.GHO");

  ghost::Command check = restore;
  check.mode = ghost::Mode::Check;
  w = ghost::progressWindowFor(check);
  EXPECT_EQ(w.title, u"GhostVrelLite - 检查映像");
  EXPECT_EQ(w.controls[2].caption, u"");
  // The ids are read from outside by the Wine tier's flow test.
  EXPECT_EQ(w.controls[3].id, 103);
  EXPECT_EQ(w.controls[3].shows, toolio::Shows::Bar);
  EXPECT_EQ(w.controls[8].id, 108);
  EXPECT_EQ(w.controls[8].caption, u"停止(&S)");
}

}  // namespace
