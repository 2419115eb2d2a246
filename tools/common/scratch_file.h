// A file written under a scratch name beside its final one and renamed when it is
// complete: a run that fails or is killed never leaves a half-written file under the
// final name. Every tool uses the one suffix, which the program removes after a
// failed WIM backup.
#pragma once

#include <string>

namespace toolio {

inline constexpr char kScratchSuffix[] = ".vrelpart";

std::string scratchPath(const std::string& finalPath);

// What a scratch file needs of the file system it is written on.
class FileMoves {
 public:
  virtual ~FileMoves() = default;
  virtual bool removeFile(const std::string& path) = 0;
  // Renames, replacing a file of that name.
  virtual bool replaceFile(const std::string& from, const std::string& to) = 0;
};

class ScratchFile {
 public:
  // A scratch file of that name left by a killed run is removed first.
  ScratchFile(FileMoves& files, std::string finalPath);
  // Removes the scratch file unless it was committed. Whatever writes it must be
  // closed by then: Windows keeps an open file.
  ~ScratchFile();
  ScratchFile(ScratchFile&& other) noexcept;
  ScratchFile& operator=(ScratchFile&&) = delete;
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const std::string& path() const { return scratch_; }
  const std::string& finalPath() const { return final_; }
  // Gives the file its final name, replacing an older file of that name.
  bool commit();

 private:
  FileMoves* files_;
  std::string final_;
  std::string scratch_;
  bool settled_ = false;  // committed, or handed to another ScratchFile
};

}  // namespace toolio
