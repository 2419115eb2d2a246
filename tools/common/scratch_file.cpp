#include "tools/common/scratch_file.h"

#include <utility>

namespace toolio {

std::string scratchPath(const std::string& finalPath) { return finalPath + kScratchSuffix; }

ScratchFile::ScratchFile(FileMoves& files, std::string finalPath)
    : files_(&files), final_(std::move(finalPath)), scratch_(scratchPath(final_)) {
  files_->removeFile(scratch_);
}

ScratchFile::~ScratchFile() {
  if (!settled_) files_->removeFile(scratch_);
}

ScratchFile::ScratchFile(ScratchFile&& other) noexcept
    : files_(other.files_), final_(std::move(other.final_)), scratch_(std::move(other.scratch_)),
      settled_(other.settled_) {
  other.settled_ = true;
}

bool ScratchFile::commit() {
  if (settled_) return false;
  settled_ = files_->replaceFile(scratch_, final_);
  return settled_;
}

}  // namespace toolio
