#include "tools/ghost/engine.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "tools/common/crc32.h"
#include "tools/common/fs.h"
#include "tools/ghost/pipeline.h"
#include "tools/ghost/sync.h"

namespace ghost {

unsigned Backend::workerThreads() { return hardwareThreads(); }

namespace {

std::function<bool()> stopOf(const toolio::Progress& progress) {
  return [&progress] { return progress.stopRequested(); };
}

Failure fail(Problem problem) {
  Failure failure;
  failure.problem = problem;
  return failure;
}

// Items in flight: enough to keep reader, workers and writer all busy, but on many
// cores no more than about 96 MiB of chunks (each item holds its raw and its stored
// bytes; the 32-bit engine has 2 GB of address space), never fewer than the
// pipeline needs.
unsigned inFlightFor(unsigned workers, std::uint32_t chunkSize) {
  const std::uint64_t byMemory = (std::uint64_t(96) << 20) / std::max<std::uint32_t>(chunkSize, 1);
  return unsigned(std::max<std::uint64_t>(workers + 2, std::min<std::uint64_t>(workers * 2 + 4, byMemory)));
}

struct ImageOpen {
  std::unique_ptr<SpanReader> reader;
  ImageHeader header;
  std::vector<std::uint8_t> map;
};

Problem openImage(Files& files, const std::string& path, ImageOpen& image) {
  image.reader = std::make_unique<SpanReader>(files, path);
  if (Problem problem = image.reader->open(); problem != Problem::None) return problem;
  std::uint8_t bytes[kHeaderSize];
  if (Problem problem = image.reader->read(bytes, sizeof bytes); problem != Problem::None)
    return problem == Problem::ImageTruncated ? Problem::ImageNotOurs : problem;
  if (Problem problem = decodeHeader(bytes, sizeof bytes, image.header); problem != Problem::None) return problem;
  image.reader->setImageId(image.header.imageId);
  // Read the map in slices, so that a damaged size cannot make us allocate more than
  // the file really holds.
  std::vector<std::uint8_t> stored;
  std::uint64_t left = image.header.mapStoredSize;
  while (left > 0) {
    std::size_t piece = left > (1u << 20) ? (1u << 20) : std::size_t(left);
    std::size_t at = stored.size();
    stored.resize(at + piece);
    if (Problem problem = image.reader->read(stored.data() + at, piece); problem != Problem::None)
      return problem;
    left -= piece;
  }
  if (!decodeMap(image.header, stored, image.map)) return Problem::ImageMapDamaged;
  return Problem::None;
}

// Reads the next chunk record (header and stored bytes) into item.input.
Produced readChunkRecord(SpanReader& reader, const ImageHeader& header, std::uint64_t& next,
                         WorkItem& item, Problem& problem) {
  if (next == header.chunkCount) return Produced::End;
  item.input.resize(kChunkHeaderSize);
  if ((problem = reader.read(item.input.data(), kChunkHeaderSize)) != Problem::None)
    return Produced::Failed;
  ChunkHeader chunk;
  if (!decodeChunkHeader(item.input.data(), header, next, chunk)) {
    // A damaged record header loses the way to every following chunk.
    problem = Problem::ImageChunkDamaged;
    return Produced::Failed;
  }
  item.input.resize(kChunkHeaderSize + chunk.storedSize);
  if ((problem = reader.read(item.input.data() + kChunkHeaderSize, chunk.storedSize)) != Problem::None)
    return Produced::Failed;
  item.rawSize = chunk.rawSize;
  ++next;
  return Produced::Item;
}

void expandRecord(const ImageHeader& header, WorkItem& item) {
  ChunkHeader chunk;
  item.failed = !decodeChunkHeader(item.input.data(), header, item.sequence, chunk) ||
                !expandChunk(chunk, item.input.data() + kChunkHeaderSize, item.output);
  item.zeros = !item.failed && chunk.method == ChunkMethod::Zeros;
}

// Reads a chunk's ranges into item.input, except the zeros the device knows without
// reading (holes of a sparse disk image): a chunk of nothing else is not read at all.
bool readChunk(disk::Device& device, const std::vector<ByteRange>& ranges, WorkItem& item,
               std::vector<std::uint64_t>& knownZeros) {
  knownZeros.clear();
  bool onlyZeros = true;
  for (const ByteRange& range : ranges) {
    knownZeros.push_back(device.knownZerosAt(range.offset, range.length));
    onlyZeros = onlyZeros && knownZeros.back() == range.length;
  }
  item.zeros = onlyZeros;
  if (onlyZeros) {
    item.input.clear();
    return true;
  }
  item.input.resize(item.rawSize);
  std::uint8_t* at = item.input.data();
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    // Ranges lie within one chunk: their lengths fit in a size_t.
    const std::size_t length = std::size_t(ranges[i].length);
    const std::size_t zeros = std::size_t(knownZeros[i]);
    std::memset(at, 0, zeros);
    if (!device.read(ranges[i].offset + zeros, at + zeros, length - zeros)) return false;
    at += length;
  }
  return true;
}

// Zeros onto the target, where it does not read as zeros already.
bool writeZeros(disk::Device& device, const ByteRange& range) {
  static const std::uint8_t kZeros[1u << 20] = {};
  std::uint64_t at = range.offset;
  std::uint64_t left = range.length;
  while (left > 0) {
    const std::uint64_t known = device.knownZerosAt(at, left);
    at += known;
    left -= known;
    if (left == 0) break;
    const std::size_t piece = left < sizeof kZeros ? std::size_t(left) : sizeof kZeros;
    if (!device.write(at, kZeros, piece)) return false;
    at += piece;
    left -= piece;
  }
  return true;
}

// After the last chunk: the end record must match and nothing may follow it.
Problem checkEnd(SpanReader& reader, const ImageHeader& header) {
  std::uint32_t crcBefore = reader.crc();
  std::uint8_t bytes[kEndRecordSize];
  if (Problem problem = reader.read(bytes, sizeof bytes); problem != Problem::None) return problem;
  EndRecord end;
  if (!decodeEndRecord(bytes, end) || end.chunkCount != header.chunkCount ||
      end.dataBytes != header.dataBytes || end.imageCrc != crcBefore)
    return Problem::ImageEndDamaged;
  if (!reader.atEnd()) return Problem::ImageEndDamaged;
  return Problem::None;
}

}  // namespace

int zlibLevelFor(int switchLevel) {
  // Measured with libdeflate on 600 MB of NTFS (system libraries and random data), 2
  // cores: level 6 took 2.9 s, 7 took 3.8 s (a third more) for 0.35% less, 8 took
  // 6.4 s for 0.2% less again and 9 took 8.6 s. Level 6 still beats the ratio of
  // gzip -6 on that data, so -z6..-z9 use 6; no switch means fast.
  if (switchLevel <= 0) return 1;
  if (switchLevel >= 6) return 6;
  return switchLevel;
}

BackupPlan planBackup(disk::Device& partition) {
  BackupPlan plan;
  fs::Volume volume;
  disk::Error error;
  if (fs::Volume::open(partition, volume, error) && volume.hasClusterMap() && volume.clusterSize() > 0)
    plan.fileSystem = volume.kind();
  if (plan.fileSystem == fs::Kind::Raw) {
    // Unknown, unreadable or damaged: sector by sector, every block is stored.
    plan.map = BlockMap(partition.size(), 64u << 10);
    plan.map.markAll();
    return plan;
  }
  plan.clusterSize = volume.clusterSize();
  // Map blocks must tile the clusters: FAT's data area need not start on a cluster
  // boundary, so the block is the largest power of two dividing both.
  std::uint64_t block = volume.clusterSize();
  std::uint64_t dataStart = volume.clusterOffset(0);
  while (block > partition.sectorSize() && (dataStart % block != 0)) block /= 2;
  if (block < 512) block = 512;
  plan.map = BlockMap(partition.size(), std::uint32_t(block));
  const auto& bits = volume.usedBitmap();
  std::uint64_t count = volume.clusterCount();
  std::uint64_t i = 0;
  while (i < count) {
    if (i % 8 == 0 && i + 8 <= count && bits[i / 8] == 0) {
      i += 8;
      continue;
    }
    if (!volume.isUsed(i)) {
      ++i;
      continue;
    }
    std::uint64_t end = i + 1;
    while (end < count && volume.isUsed(end)) ++end;
    plan.map.markBytes(volume.clusterOffset(i), (end - i) * volume.clusterSize());
    i = end;
  }
  for (const fs::Area& area : volume.alwaysImaged()) plan.map.markBytes(area.offset, area.length);
  return plan;
}

Failure runBackup(const Command& command, Backend& backend, toolio::Progress& progress,
                  const RunOptions& options) {
  OpenedPartition source;
  Failure opening;
  if (Problem problem = backend.openPartition(command.partition, false, source, opening.diskError);
      problem != Problem::None) {
    opening.problem = problem;
    return opening;
  }
  if (backend.isOnPartition(command.imagePath, command.partition)) return fail(Problem::DestinationOnSource);

  BackupPlan plan = planBackup(*source.device);
  ImageHeader header;
  header.imageId = backend.newImageId();
  header.fileSystem = plan.fileSystem;
  header.sectorSize = source.device->sectorSize();
  header.blockSize = plan.map.blockSize();
  header.clusterSize = plan.clusterSize;
  header.sourceSize = plan.map.partitionBytes();
  header.partitionStart = source.startByte / header.sectorSize;
  header.blockCount = plan.map.blockCount();
  header.usedBlocks = plan.map.usedBlocks();
  header.dataBytes = plan.map.usedBytes();
  header.chunkSize = options.chunkSize;
  header.chunkCount = (header.dataBytes + header.chunkSize - 1) / header.chunkSize;
  header.level = std::uint32_t(zlibLevelFor(command.level));
  std::vector<std::uint8_t> mapStored = encodeMap(plan.map.bits(), 6);
  header.mapRawSize = plan.map.bits().size();
  header.mapStoredSize = mapStored.size();
  header.mapCrc = toolio::crc32(mapStored.data(), mapStored.size());
  header.createdUnix = backend.nowUnix();

  Files& files = backend.imageFiles();
  SpanWriter writer(files, command.imagePath, header.imageId, files.maxFileSize(command.imagePath));
  if (Problem problem = writer.open(); problem != Problem::None) return fail(problem);
  std::vector<std::uint8_t> headerBytes = encodeHeader(header);
  if (Problem problem = writer.write(headerBytes.data(), headerBytes.size()); problem != Problem::None)
    return fail(problem);
  if (Problem problem = writer.write(mapStored.data(), mapStored.size()); problem != Problem::None)
    return fail(problem);

  std::uint64_t done = 0;
  progress.report(done, header.dataBytes);
  UsedRangeCursor cursor(plan.map);
  std::vector<ByteRange> ranges;
  std::vector<std::uint64_t> knownZeros;
  Problem writeProblem = Problem::None;
  int level = int(header.level);
  PipelineStages stages;
  stages.produce = [&](WorkItem& item) {
    ranges.clear();
    std::uint64_t bytes = cursor.take(header.chunkSize, ranges);
    if (bytes == 0) return Produced::End;
    item.rawSize = std::uint32_t(bytes);
    return readChunk(*source.device, ranges, item, knownZeros) ? Produced::Item : Produced::Failed;
  };
  stages.transform = [&](WorkItem& item) {
    thread_local std::vector<std::uint8_t> packed;
    ChunkHeader chunk;
    chunk.index = std::uint32_t(item.sequence);
    chunk.rawSize = item.rawSize;
    if (item.zeros) {
      packed.clear();
      chunk.method = ChunkMethod::Zeros;
    } else {
      chunk.method = compressChunk(item.input.data(), item.input.size(), level, packed);
    }
    chunk.rawCrc = chunk.method == ChunkMethod::Zeros ? zerosCrc(chunk.rawSize)
                                                      : toolio::crc32(item.input.data(), item.input.size());
    chunk.storedSize = std::uint32_t(packed.size());
    item.output.resize(kChunkHeaderSize + packed.size());
    encodeChunkHeader(chunk, item.output.data());
    std::copy(packed.begin(), packed.end(), item.output.begin() + kChunkHeaderSize);
  };
  stages.consume = [&](WorkItem& item) {
    writeProblem = writer.write(item.output.data(), item.output.size());
    done += item.rawSize;
    progress.report(done, header.dataBytes);
    return writeProblem == Problem::None;
  };
  unsigned workers = backend.workerThreads();
  switch (runPipeline(stages, workers, inFlightFor(workers, header.chunkSize), stopOf(progress))) {
    case PipelineEnd::Completed: break;
    case PipelineEnd::ProducerFailed: return fail(Problem::PartitionUnreadable);
    case PipelineEnd::ConsumerStopped: return fail(writeProblem);
    case PipelineEnd::Cancelled: return fail(Problem::Stopped);
  }
  EndRecord end;
  end.chunkCount = header.chunkCount;
  end.dataBytes = header.dataBytes;
  end.imageCrc = writer.crc();
  std::uint8_t endBytes[kEndRecordSize];
  encodeEndRecord(end, endBytes);
  if (Problem problem = writer.write(endBytes, sizeof endBytes); problem != Problem::None) return fail(problem);
  return fail(writer.commit());
}

Failure runCheck(const Command& command, Backend& backend, toolio::Progress& progress) {
  ImageOpen image;
  if (Problem problem = openImage(backend.imageFiles(), command.imagePath, image); problem != Problem::None)
    return fail(problem);
  const ImageHeader& header = image.header;
  std::uint64_t done = 0;
  progress.report(done, header.dataBytes);
  std::uint64_t next = 0;
  Problem readProblem = Problem::None;
  std::uint64_t damaged = 0;
  PipelineStages stages;
  stages.produce = [&](WorkItem& item) {
    return readChunkRecord(*image.reader, header, next, item, readProblem);
  };
  stages.transform = [&](WorkItem& item) { expandRecord(header, item); };
  stages.consume = [&](WorkItem& item) {
    if (item.failed) ++damaged;
    done += item.rawSize;
    progress.report(done, header.dataBytes);
    return true;
  };
  unsigned workers = backend.workerThreads();
  PipelineEnd end = runPipeline(stages, workers, inFlightFor(workers, header.chunkSize), stopOf(progress));
  if (end == PipelineEnd::Cancelled) return fail(Problem::Stopped);
  Failure failure;
  if (end == PipelineEnd::ProducerFailed) {
    failure.problem = readProblem;
  } else if (damaged > 0) {
    failure.problem = Problem::ImageChunkDamaged;
  } else {
    failure.problem = checkEnd(*image.reader, header);
  }
  if (damaged > 0 && failure.problem == Problem::ImageChunkDamaged) failure.damagedChunks = damaged;
  return failure;
}

Failure runRestore(const Command& command, Backend& backend, toolio::Progress& progress) {
  if (command.imagePartition != 1) return fail(Problem::NoSuchImagePartition);
  ImageOpen image;
  if (Problem problem = openImage(backend.imageFiles(), command.imagePath, image); problem != Problem::None)
    return fail(problem);
  const ImageHeader& header = image.header;
  if (backend.isOnPartition(command.imagePath, command.partition)) return fail(Problem::ImageOnTarget);
  OpenedPartition target;
  Failure opening;
  if (Problem problem = backend.openPartition(command.partition, true, target, opening.diskError);
      problem != Problem::None) {
    opening.problem = problem;
    return opening;
  }
  if (target.lengthBytes < header.sourceSize) {
    Failure failure = fail(Problem::TargetTooSmall);
    failure.neededBytes = header.sourceSize;
    failure.availableBytes = target.lengthBytes;
    return failure;
  }

  // From here on the target changes.
  BlockMap map(header.sourceSize, header.blockSize, std::move(image.map));
  UsedRangeCursor cursor(map);
  std::vector<ByteRange> ranges;
  std::uint64_t done = 0;
  progress.report(done, header.dataBytes);
  std::uint64_t next = 0;
  Problem readProblem = Problem::None;
  bool writeFailed = false;
  std::uint64_t damaged = 0;
  PipelineStages stages;
  stages.produce = [&](WorkItem& item) {
    return readChunkRecord(*image.reader, header, next, item, readProblem);
  };
  stages.transform = [&](WorkItem& item) { expandRecord(header, item); };
  stages.consume = [&](WorkItem& item) {
    ranges.clear();
    cursor.take(item.rawSize, ranges);
    done += item.rawSize;
    progress.report(done, header.dataBytes);
    if (item.failed) {
      ++damaged;
      // Damaged data is never written; -crcignore only decides whether to go on.
      return command.crcIgnore;
    }
    std::size_t at = 0;
    for (const ByteRange& range : ranges) {
      if (item.zeros ? !writeZeros(*target.device, range)
                     : !target.device->write(range.offset, item.output.data() + at, range.length)) {
        writeFailed = true;
        return false;
      }
      at += range.length;
    }
    return true;
  };
  unsigned workers = backend.workerThreads();
  PipelineEnd end = runPipeline(stages, workers, inFlightFor(workers, header.chunkSize), stopOf(progress));
  Failure failure;
  failure.targetTouched = true;
  if (writeFailed) {
    failure.problem = Problem::PartitionUnwritable;
  } else if (end == PipelineEnd::Cancelled) {
    failure.problem = Problem::Stopped;
  } else if (end == PipelineEnd::ProducerFailed) {
    failure.problem = readProblem;
  } else if (damaged > 0) {
    failure.problem = Problem::ImageChunkDamaged;
  } else {
    failure.problem = checkEnd(*image.reader, header);
  }
  if (damaged > 0) {
    failure.damagedChunks = damaged;
    failure.ignoredDamage = command.crcIgnore;
    if (failure.problem == Problem::None) failure.problem = Problem::ImageChunkDamaged;
  }
  if (!target.device->flush() && failure.problem == Problem::None) failure.problem = Problem::PartitionUnwritable;
  if (failure.problem != Problem::None) return failure;

  if (fs::fixStart(*target.device, target.startByte) == fs::MoveFix::Failed) return fail(Problem::PartitionUnwritable);
  if (header.fileSystem == fs::Kind::Ntfs && target.lengthBytes > header.sourceSize) {
    if (!fs::fixGrown(*target.device)) return fail(Problem::PartitionUnwritable);
    backend.extendNtfs(target, header.sourceSize);
  }
  return Failure{};
}

int runCommand(const Command& command, Backend& backend, toolio::Progress& progress,
               toolio::LineSink& out) {
  Failure failure;
  try {
    switch (command.mode) {
      case Mode::Backup: failure = runBackup(command, backend, progress); break;
      case Mode::Check: failure = runCheck(command, backend, progress); break;
      case Mode::Restore: failure = runRestore(command, backend, progress); break;
    }
  } catch (const std::bad_alloc&) {
    failure = fail(Problem::OutOfMemory);
  }
  for (const std::string& line : failureLines(failure)) out.line(line);
  return failure.problem == Problem::None ? 0 : 1;
}

}  // namespace ghost
