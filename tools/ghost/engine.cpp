#include "tools/ghost/engine.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "tools/common/crc32.h"
#include "tools/common/fs.h"
#include "tools/ghost/pipeline.h"
#include "tools/ghost/sync.h"
#include "tools/ghost/target_writer.h"

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

// Chunk-sized buffers in memory at once: at most 256 MiB of them, and no more than a
// quarter of the address space left (the 32-bit engine has 2 GB; a limit set on the
// process counts too).
std::uint64_t chunkBuffersFor(std::uint32_t chunkSize) {
  const std::uint64_t budget = std::min<std::uint64_t>(std::uint64_t(256) << 20, addressSpaceLeft() / 4);
  return std::max<std::uint64_t>(3, budget / std::max<std::uint32_t>(chunkSize, 1));
}

// Workers and items in flight that fit those buffers: each item holds a chunk's stored
// and its raw bytes, each worker one more chunk of its own (the compressor's output);
// two items beyond the workers' keep the reader and the writer busy. Large chunks on a
// small address space come down to one worker and one item: slow, never out of memory.
struct Flow {
  unsigned workers = 1;
  unsigned items = 1;
};

Flow flowFor(unsigned workers, std::uint32_t chunkSize) {
  const std::uint64_t buffers = chunkBuffersFor(chunkSize);
  Flow flow;
  flow.workers = unsigned(std::max<std::uint64_t>(1, std::min<std::uint64_t>(workers, (buffers - 1) / 3)));
  const std::uint64_t fit = (buffers - flow.workers) / 2;
  flow.items = unsigned(std::max<std::uint64_t>(1, std::min<std::uint64_t>(flow.workers * 2 + 4, fit)));
  return flow;
}

PipelineEnd runFlow(const PipelineStages& stages, Backend& backend, std::uint32_t chunkSize,
                    const toolio::Progress& progress) {
  const Flow flow = flowFor(backend.workerThreads(), chunkSize);
  return runPipeline(stages, flow.workers, flow.items, stopOf(progress));
}

// An image path that is no regular file is refused before it is opened (a pipe with
// no writer would hold the open for ever).
Problem imagePathProblem(Files& files, const std::string& path) {
  switch (files.kindOf(path)) {
    case PathKind::Missing: return Problem::ImageMissing;
    case PathKind::Folder: return Problem::ImageIsFolder;
    case PathKind::Other: return Problem::ImageNotAFile;
    case PathKind::RegularFile: break;
  }
  return Problem::None;
}

// The partition could not be opened: a volume in use is named as the user knows it.
Failure openingFailed(Backend& backend, const std::string& designator, Problem problem, Failure opening) {
  opening.problem = problem;
  if (problem == Problem::VolumeInUse) {
    const std::string letter = backend.driveLetterOf(designator);
    opening.partition = letter.empty() ? designator : designator + " (" + letter + ")";
  }
  return opening;
}

// Opens the partition, reads its risk flags before the job touches it, runs the job on
// it and hands the flags back with the job's outcome. opening is the failure to return
// when the partition cannot be opened.
template <typename Job>
Failure onOpenedPartition(Backend& backend, const std::string& designator, bool writable, Failure opening, Job&& job) {
  OpenedPartition partition;
  if (Problem problem = backend.openPartition(designator, writable, partition, opening.diskError);
      problem != Problem::None)
    return openingFailed(backend, designator, problem, opening);
  const fs::Risks risks = fs::readRisks(*partition.device);
  Failure outcome = job(partition);
  outcome.risks = risks;
  return outcome;
}

struct ImageOpen {
  std::unique_ptr<SpanReader> reader;
  ImageHeader header;
  std::vector<std::uint8_t> storedMap;
};

// Before anything is inflated or written: every chunk record header in its place, a
// seek apart, and the end record after the last, so that an image cut short, or
// a record header damaged, is found with nothing done. Bytes after a correct end
// record are no damage (a copy tool may pad a file).
Problem walkRecords(Files& files, const std::string& path, const ImageHeader& header) {
  SpanReader walker(files, path);
  if (Problem problem = walker.open(); problem != Problem::None) return problem;
  walker.setImageId(header.imageId);
  if (Problem problem = walker.skip(kHeaderSize + header.mapStoredSize); problem != Problem::None) return problem;
  std::uint8_t bytes[kChunkHeaderSize];
  for (std::uint64_t index = 0; index < header.chunkCount; ++index) {
    if (Problem problem = walker.read(bytes, kChunkHeaderSize); problem != Problem::None) return problem;
    ChunkHeader chunk;
    if (!decodeChunkHeader(bytes, header, index, chunk)) return Problem::ImageChunkDamaged;
    if (Problem problem = walker.skip(chunk.storedSize); problem != Problem::None) return problem;
  }
  std::uint8_t endBytes[kEndRecordSize];
  if (Problem problem = walker.read(endBytes, sizeof endBytes); problem != Problem::None) return problem;
  EndRecord end;
  if (!decodeEndRecord(endBytes, end) || end.chunkCount != header.chunkCount || end.dataBytes != header.dataBytes)
    return Problem::ImageEndDamaged;
  return Problem::None;
}

// The header, the walk over the records, and the stored map (not yet inflated).
Problem openImage(Files& files, const std::string& path, ImageOpen& image) {
  if (Problem problem = imagePathProblem(files, path); problem != Problem::None) return problem;
  image.reader = std::make_unique<SpanReader>(files, path);
  if (Problem problem = image.reader->open(); problem != Problem::None) return problem;
  std::uint8_t bytes[kHeaderSize] = {};
  if (Problem problem = image.reader->read(bytes, sizeof bytes); problem != Problem::None) {
    // Shorter than a header: ours cut short when it starts with our mark.
    if (problem != Problem::ImageTruncated) return problem;
    return image.reader->position() >= kMagicSize && hasImageMagic(bytes) ? Problem::ImageTruncated
                                                                          : Problem::ImageNotOurs;
  }
  if (Problem problem = decodeHeader(bytes, sizeof bytes, image.header); problem != Problem::None) return problem;
  image.reader->setImageId(image.header.imageId);
  if (Problem problem = walkRecords(files, path, image.header); problem != Problem::None) return problem;
  // The walk found the map's bytes in the file: reading them allocates no more than it holds.
  image.storedMap.resize(std::size_t(image.header.mapStoredSize));
  return image.reader->read(image.storedMap.data(), image.storedMap.size());
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

// After the last chunk: the end record must match, and so must the checksum of all
// that came before it.
Problem checkEnd(SpanReader& reader, const ImageHeader& header) {
  std::uint32_t crcBefore = reader.crc();
  std::uint8_t bytes[kEndRecordSize];
  if (Problem problem = reader.read(bytes, sizeof bytes); problem != Problem::None) return problem;
  EndRecord end;
  if (!decodeEndRecord(bytes, end) || end.chunkCount != header.chunkCount ||
      end.dataBytes != header.dataBytes || end.imageCrc != crcBefore)
    return Problem::ImageEndDamaged;
  return Problem::None;
}

Problem pipelineProblem(PipelineEnd end, Problem producerProblem, Problem consumerProblem) {
  switch (end) {
    case PipelineEnd::Completed: return Problem::None;
    case PipelineEnd::ProducerFailed: return producerProblem;
    case PipelineEnd::ConsumerStopped: return consumerProblem;
    case PipelineEnd::Cancelled: return Problem::Stopped;
    case PipelineEnd::OutOfMemory: return Problem::OutOfMemory;
  }
  return Problem::None;
}

}  // namespace

int zlibLevelFor(int switchLevel) {
  // Measured with libdeflate on 600 MB of NTFS (system libraries and random data), 2
  // cores: level 6 took 2.9 s, 7 took 3.8 s (a third more) for 0.35% less, 8 took
  // 6.4 s for 0.2% less again and 9 took 8.6 s. Level 6 still beats the ratio of
  // gzip -6 on that data, so -z6..-z9 use 6; no switch means fast. (Level 5 saves a
  // sixth of the processor time for 0.5% more, which leaves it a hair under gzip -6.)
  if (switchLevel <= 0) return 1;
  if (switchLevel >= 6) return 6;
  return switchLevel;
}

bool planBackup(disk::Device& partition, BackupPlan& plan, disk::Error& error) {
  plan = BackupPlan{};
  fs::Volume volume;
  const bool read = fs::Volume::open(partition, volume, error, fs::Scan::MapAndFiles);
  // NTFS keeps what is in use twice ($Bitmap and the files' own records): when those
  // cannot be read, no copy could say which data it left out.
  if (!read && volume.kind() == fs::Kind::Ntfs) return false;
  error = disk::Error{};
  if (read && volume.hasClusterMap() && volume.clusterSize() > 0) plan.fileSystem = volume.kind();
  if (plan.fileSystem == fs::Kind::Raw) {
    // Unknown, unreadable or damaged: sector by sector, every block is stored.
    plan.map = BlockMap(partition.size(), 64u << 10);
    plan.map.markAll();
    return true;
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
  return true;
}

namespace {

// What the destination names must be a file this backup may replace, or nothing yet.
Problem destinationProblem(Files& files, const std::string& path) {
  switch (files.kindOf(path)) {
    case PathKind::Folder: return Problem::DestinationIsFolder;
    case PathKind::Other: return Problem::DestinationNotAFile;
    case PathKind::Missing:
    case PathKind::RegularFile: break;
  }
  return Problem::None;
}

// The backup once its source is open.
Failure backupFrom(const Command& command, Backend& backend, toolio::Progress& progress, const RunOptions& options,
                   OpenedPartition& source) {
  Files& files = backend.imageFiles();
  // Unknown is let through: the source is locked while it is read, so an image written
  // onto it fails instead of damaging it.
  if (backend.placeOf(command.imagePath, command.partition) == Backend::Placement::OnPartition)
    return fail(Problem::DestinationOnSource);

  BackupPlan plan;
  Failure unmappable = fail(Problem::SourceUnmappable);
  if (!planBackup(*source.device, plan, unmappable.diskError)) return unmappable;
  ImageHeader header;
  header.imageId = backend.newImageId();
  header.fileSystem = plan.fileSystem;
  header.sectorSize = source.sectorSize;
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
  const PipelineEnd end = runFlow(stages, backend, header.chunkSize, progress);
  if (Problem problem = pipelineProblem(end, Problem::PartitionUnreadable, writeProblem); problem != Problem::None)
    return fail(problem);
  EndRecord record;
  record.chunkCount = header.chunkCount;
  record.dataBytes = header.dataBytes;
  record.imageCrc = writer.crc();
  std::uint8_t endBytes[kEndRecordSize];
  encodeEndRecord(record, endBytes);
  if (Problem problem = writer.write(endBytes, sizeof endBytes); problem != Problem::None) return fail(problem);
  return fail(writer.commit());
}

}  // namespace

Failure runBackup(const Command& command, Backend& backend, toolio::Progress& progress,
                  const RunOptions& options) {
  if (Problem problem = destinationProblem(backend.imageFiles(), command.imagePath); problem != Problem::None)
    return fail(problem);
  return onOpenedPartition(backend, command.partition, false, Failure{}, [&](OpenedPartition& source) {
    return backupFrom(command, backend, progress, options, source);
  });
}

Failure runCheck(const Command& command, Backend& backend, toolio::Progress& progress) {
  ImageOpen image;
  if (Problem problem = openImage(backend.imageFiles(), command.imagePath, image); problem != Problem::None)
    return fail(problem);
  const ImageHeader& header = image.header;
  if (!checkMap(header, image.storedMap)) return fail(Problem::ImageMapDamaged);
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
  const PipelineEnd end = runFlow(stages, backend, header.chunkSize, progress);
  Failure failure;
  failure.problem = pipelineProblem(end, readProblem, Problem::None);
  if (failure.problem == Problem::None) {
    failure.problem = damaged > 0 ? Problem::ImageChunkDamaged : checkEnd(*image.reader, header);
  }
  if (damaged > 0 && failure.problem == Problem::ImageChunkDamaged) failure.damagedChunks = damaged;
  return failure;
}

namespace {

// Until the first byte is written a failed restore says the target is as it was; from
// then on that it is not.
Failure restoreFailure(Problem problem, const TargetWriter* writer) {
  Failure failure = fail(problem);
  failure.target = writer && writer->touched() ? TargetState::PartlyWritten : TargetState::Untouched;
  return failure;
}

Failure restoreOnto(const Command& command, Backend& backend, toolio::Progress& progress, ImageOpen& image,
                    OpenedPartition& target) {
  const ImageHeader& header = image.header;
  if (target.lengthBytes < header.sourceSize) {
    Failure failure = restoreFailure(Problem::TargetTooSmall, nullptr);
    failure.neededBytes = header.sourceSize;
    failure.availableBytes = target.lengthBytes;
    return failure;
  }
  // A file system knows its sector size from its boot sector: on a disk of another
  // size it would not mount, and its partition's place would come out wrong.
  if (target.sectorSize != header.sectorSize) {
    Failure failure = restoreFailure(Problem::SectorSizeMismatch, nullptr);
    failure.imageSectorSize = header.sectorSize;
    failure.targetSectorSize = target.sectorSize;
    return failure;
  }
  // The partition's last sector (NTFS's backup boot sector) lies past the file system:
  // a system that will not let it be reached would fail the restore at its very end.
  if (target.lengthBytes >= target.device->sectorSize()) {
    std::vector<std::uint8_t> tail(target.device->sectorSize());
    if (!target.device->read(target.lengthBytes - tail.size(), tail.data(), tail.size()))
      return restoreFailure(Problem::PartitionTailUnreachable, nullptr);
  }
  if (!checkMap(header, image.storedMap)) return restoreFailure(Problem::ImageMapDamaged, nullptr);

  MapInflater map(image.storedMap, header.mapRawSize);
  UsedRangeCursor cursor(map, header.sourceSize, header.blockSize);
  TargetWriter writer(*target.device, header.sectorSize);
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
      if (item.zeros ? !writer.zeros(range.offset, range.length)
                     : !writer.write(range.offset, item.output.data() + at, range.length)) {
        writeFailed = true;
        return false;
      }
      at += range.length;
    }
    return true;
  };
  const PipelineEnd end = runFlow(stages, backend, header.chunkSize, progress);
  Problem problem = writeFailed ? Problem::PartitionUnwritable : pipelineProblem(end, readProblem, Problem::None);
  if (problem == Problem::None && damaged > 0 && !command.crcIgnore) problem = Problem::ImageChunkDamaged;
  // The whole image's checksum cannot match past damage already named.
  if (problem == Problem::None && damaged == 0) problem = checkEnd(*image.reader, header);
  if (problem != Problem::None) {
    Failure failure = restoreFailure(problem, &writer);
    if (damaged > 0) failure.damagedChunks = damaged;
    return failure;
  }

  // Every chunk is written and was checked: now the boot sectors, and the fixes that
  // follow from the target's place and size. A failure here still leaves all the data
  // on the target.
  Failure after = fail(Problem::PartitionUnwritable);
  after.target = TargetState::DataWritten;
  if (!writer.finish()) return after;
  if (fs::fixStart(*target.device, target.startByte) == fs::MoveFix::Failed) return after;
  Failure restored;
  if (header.fileSystem == fs::Kind::Ntfs && target.lengthBytes > header.sourceSize) {
    if (!fs::fixGrown(*target.device)) return after;
    // Windows grows NTFS by whole clusters only: less room than that stays unused.
    if (fs::growable(*target.device)) {
      const NtfsGrowth growth = backend.extendNtfs(target, header.sourceSize);
      // The data is all there: the restore succeeded, with a volume of the image's size.
      if (growth.outcome == NtfsGrowth::Outcome::Failed) {
        restored.notGrown = true;
        restored.growError = growth.systemError;
      }
    }
  }
  if (damaged > 0) {
    // -crcignore: all that could be restored is, and the damage is still named.
    restored.problem = Problem::ImageChunkDamaged;
    restored.damagedChunks = damaged;
    restored.ignoredDamage = true;
  }
  return restored;
}

}  // namespace

Failure runRestore(const Command& command, Backend& backend, toolio::Progress& progress) {
  if (command.imagePartition != 1) return restoreFailure(Problem::NoSuchImagePartition, nullptr);
  ImageOpen image;
  if (Problem problem = openImage(backend.imageFiles(), command.imagePath, image); problem != Problem::None)
    return restoreFailure(problem, nullptr);
  switch (backend.placeOf(command.imagePath, command.partition)) {
    case Backend::Placement::Elsewhere: break;
    case Backend::Placement::OnPartition: return restoreFailure(Problem::ImageOnTarget, nullptr);
    case Backend::Placement::Unknown: return restoreFailure(Problem::ImagePlaceUnknown, nullptr);
  }
  return onOpenedPartition(backend, command.partition, true, restoreFailure(Problem::None, nullptr),
                           [&](OpenedPartition& target) { return restoreOnto(command, backend, progress, image, target); });
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
  // Run alone, the engine asks nothing: it says what it found and goes on.
  for (const std::string& line : riskNotes(failure, command.mode == Mode::Restore)) out.line(line);
  for (const std::string& line : failureLines(failure)) out.line(line);
  return failure.problem == Problem::None ? 0 : 1;
}

}  // namespace ghost
