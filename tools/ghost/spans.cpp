#include "tools/ghost/spans.h"

#include <cstdio>
#include <cstring>

#include "tools/common/crc32.h"
#include "tools/ghost/image_format.h"

namespace ghost {

namespace {

const std::uint8_t kSpanMagic[4] = {'V', 'G', 'S', 'P'};

void encodeSpanHeader(unsigned number, std::uint64_t id, std::uint8_t* out) {
  std::memcpy(out, kSpanMagic, 4);
  for (int i = 0; i < 4; ++i) out[4 + i] = std::uint8_t(number >> (8 * i));
  for (int i = 0; i < 8; ++i) out[8 + i] = std::uint8_t(id >> (8 * i));
}

}  // namespace

std::uint64_t maxFileSizeOf(const std::optional<std::string>& fileSystemName) {
  if (!fileSystemName) return kFat32SpanLimit;
  const std::string& name = *fileSystemName;
  return name == "FAT" || name == "FAT32" || name == "FAT16" || name == "FAT12" ? kFat32SpanLimit : 0;
}

std::string spanName(const std::string& image, unsigned number) {
  if (number <= 1) return image;
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, ".%03u", number);
  return image + suffix;
}

SpanWriter::SpanWriter(Files& files, std::string image, std::uint64_t imageId,
                       std::uint64_t spanLimit)
    : files_(files), image_(std::move(image)), imageId_(imageId), limit_(spanLimit) {
  if (limit_ != 0 && limit_ < (1u << 20)) limit_ = 1u << 20;
}

// The open span is closed before the scratch files go.
SpanWriter::~SpanWriter() { file_.reset(); }

Problem SpanWriter::problemOf(Problem written) const {
  if (written == Problem::None || written == Problem::DiskFull) return written;
  return spans_.size() <= 1 && inFile_ == 0 ? Problem::DestinationUncreatable : Problem::ImageWriteFailed;
}

Problem SpanWriter::startSpan() {
  if (file_) {
    Problem finished = file_->finish();
    file_.reset();
    if (finished != Problem::None) return problemOf(finished);
  }
  unsigned number = unsigned(spans_.size()) + 1;
  toolio::ScratchFile span(files_, spanName(image_, number));
  Problem created = Problem::None;
  inFile_ = 0;
  file_ = files_.create(span.path(), created);
  if (!file_) return created == Problem::DiskFull ? Problem::DiskFull
                    : number == 1                 ? Problem::DestinationUncreatable
                                                  : Problem::ImageWriteFailed;
  spans_.push_back(std::move(span));
  if (number > 1) {
    std::uint8_t header[kSpanHeaderSize];
    encodeSpanHeader(number, imageId_, header);
    if (Problem p = problemOf(file_->write(header, sizeof header)); p != Problem::None) return p;
    inFile_ = sizeof header;
  }
  return Problem::None;
}

Problem SpanWriter::open() { return startSpan(); }

Problem SpanWriter::write(const void* data, std::size_t length) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  crc_ = toolio::crc32(p, length, crc_);
  while (length > 0) {
    if (!file_) return Problem::ImageWriteFailed;
    std::size_t piece = length;
    if (limit_ != 0) {
      if (inFile_ >= limit_) {
        if (Problem problem = startSpan(); problem != Problem::None) return problem;
        continue;
      }
      if (piece > limit_ - inFile_) piece = std::size_t(limit_ - inFile_);
    }
    if (Problem problem = problemOf(file_->write(p, piece)); problem != Problem::None)
      return problem;
    inFile_ += piece;
    p += piece;
    length -= piece;
  }
  return Problem::None;
}

Problem SpanWriter::commit() {
  if (!file_) return Problem::ImageWriteFailed;
  Problem finished = file_->finish();
  file_.reset();
  if (finished != Problem::None) return problemOf(finished);
  for (toolio::ScratchFile& span : spans_)
    if (!span.commit()) return Problem::ImageWriteFailed;
  for (unsigned number = unsigned(spans_.size()) + 1;; ++number) {
    const std::string stale = spanName(image_, number), scratch = toolio::scratchPath(stale);
    const bool image = files_.exists(stale), killed = files_.exists(scratch);
    if (!image && !killed) break;
    if (image) files_.removeFile(stale);
    if (killed) files_.removeFile(scratch);
  }
  return Problem::None;
}

SpanReader::SpanReader(Files& files, std::string image)
    : files_(files), image_(std::move(image)) {}

Problem SpanReader::startFile(std::unique_ptr<File> file, std::uint64_t headerBytes) {
  file_ = std::move(file);
  fileSize_ = file_->size();
  inFile_ = headerBytes;
  seen_ += fileSize_ > headerBytes ? fileSize_ - headerBytes : 0;
  return Problem::None;
}

Problem SpanReader::open() {
  Problem opened = Problem::None;
  auto file = files_.openRead(image_, opened);
  if (!file) return opened == Problem::None ? Problem::ImageUnreadable : opened;
  return startFile(std::move(file), 0);
}

Problem SpanReader::nextSpan() {
  if (!haveId_) return Problem::ImageTruncated;
  std::string name = spanName(image_, span_ + 1);
  Problem opened = Problem::None;
  auto next = files_.openRead(name, opened);
  // A span that is not there: the image ends early.
  if (!next) return opened == Problem::ImageMissing ? Problem::ImageTruncated
                    : opened == Problem::None      ? Problem::ImageUnreadable
                                                   : opened;
  std::uint8_t header[kSpanHeaderSize];
  std::size_t got = 0;
  if (Problem problem = next->read(header, sizeof header, got); problem != Problem::None) return problem;
  std::uint8_t expected[kSpanHeaderSize];
  encodeSpanHeader(span_ + 1, imageId_, expected);
  if (got != sizeof header || std::memcmp(header, expected, sizeof header) != 0)
    return Problem::SpanMismatch;
  ++span_;
  return startFile(std::move(next), sizeof header);
}

Problem SpanReader::read(void* data, std::size_t length) {
  auto* p = static_cast<std::uint8_t*>(data);
  while (length > 0) {
    if (!file_) return Problem::ImageReadError;
    std::size_t got = 0;
    if (Problem problem = file_->read(p, length, got); problem != Problem::None) return problem;
    crc_ = toolio::crc32(p, got, crc_);
    position_ += got;
    inFile_ += got;
    p += got;
    length -= got;
    if (length > 0 && got == 0) {
      if (Problem problem = nextSpan(); problem != Problem::None) return problem;
    }
  }
  return Problem::None;
}

Problem SpanReader::skip(std::uint64_t length) {
  while (length > 0) {
    if (!file_) return Problem::ImageReadError;
    const std::uint64_t left = fileSize_ > inFile_ ? fileSize_ - inFile_ : 0;
    if (left == 0) {
      if (Problem problem = nextSpan(); problem != Problem::None) return problem;
      continue;
    }
    const std::uint64_t piece = length < left ? length : left;
    if (Problem problem = file_->seek(inFile_ + piece); problem != Problem::None) return problem;
    inFile_ += piece;
    position_ += piece;
    length -= piece;
  }
  return Problem::None;
}

}  // namespace ghost
