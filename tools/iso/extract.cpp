#include "tools/iso/extract.h"

#include <algorithm>
#include <cstring>

#include "platform/gbk.h"
#include "tools/common/windows_names.h"

namespace iso {

namespace {

using gbk::equalsIgnoreCase;

struct Walk {
  const FileFilter& wanted;
  Plan& plan;
  std::vector<std::string> folders;  // the folders leading to the current one
  std::size_t emitted = 0;           // how many of them are in the plan already
};

void walk(const Node& dir, const std::string& prefix, Walk& w) {
  for (const Node& child : dir.children) {
    if (child.directory) {
      // A folder is only created when something inside it is copied.
      std::string path = prefix + child.name;
      w.folders.push_back(path);
      std::size_t before = w.plan.files.size();
      walk(child, path + "/", w);
      if (w.plan.problem != Problem::None) return;
      if (w.plan.files.size() != before && !safeComponent(child.name)) {
        w.plan.problem = Problem::UnsafeName;
        return;
      }
      w.folders.pop_back();
      w.emitted = std::min(w.emitted, w.folders.size());
    } else if (child.regular && w.wanted(child)) {
      if (!safeComponent(child.name)) {
        w.plan.problem = Problem::UnsafeName;
        return;
      }
      for (std::size_t i = w.emitted; i < w.folders.size(); ++i) w.plan.folders.push_back(w.folders[i]);
      w.emitted = w.folders.size();
      w.plan.files.push_back({prefix + child.name, &child});
      w.plan.totalBytes += child.size;
    }
  }
}

bool allZero(const unsigned char* p, std::size_t n) {
  if (n == 0) return true;
  return p[0] == 0 && std::memcmp(p, p + 1, n - 1) == 0;
}

// 256 KiB: what was just read is still in the processor's cache (1 MiB of L2 on the
// machines measured) when it is written, beside the file cache's pages it goes
// through. From 1 MiB on, a read and write through the buffer took from the same
// time up to six times as long, run to run (512 MB, page cache dropped before, on a
// shared 2-core machine); from 256 to 768 KiB it took the time of cp every run.
constexpr std::size_t kCopyChunk = 256u << 10;

// One file, under a scratch name until it is complete: a copy cut short never looks
// finished, and a failed one leaves nothing behind.
Problem copyFile(ImageSource& source, const Node& node, const std::string& path, OutputTree& out,
                   std::vector<unsigned char>& buffer, std::uint64_t& done, std::uint64_t total,
                   toolio::Progress& progress) {
  toolio::ScratchFile scratch(out, path);
  std::unique_ptr<OutputFile> target = out.createFile(scratch.path());
  if (!target) return Problem::WriteFailed;
  std::uint64_t remaining = node.size;
  bool ok = true;
  if (!node.embedded.empty()) {
    ok = target->write(node.embedded.data(), std::min<std::uint64_t>(node.embedded.size(), remaining));
    done += remaining;
    remaining = 0;
  }
  for (std::size_t i = 0; ok && remaining > 0 && i < node.extents.size(); ++i) {
    const Extent& extent = node.extents[i];
    std::uint64_t left = std::min(extent.length, remaining);
    std::uint64_t offset = extent.offset;
    while (ok && left > 0) {
      std::size_t take = std::size_t(std::min<std::uint64_t>(left, buffer.size()));
      std::uint64_t hole = extent.zeros ? 0 : source.knownZerosAt(offset, left);
      if (hole >= 65536) take = std::size_t(std::min<std::uint64_t>(hole, left));
      if (extent.zeros || hole >= 65536) {
        ok = target->skipZeros(take);
      } else if (!target->copyFrom(source, offset, take)) {
        if (!source.read(offset, buffer.data(), take)) return Problem::ImageUnreadable;
        ok = allZero(buffer.data(), take) ? target->skipZeros(take) : target->write(buffer.data(), take);
      }
      offset += take;
      left -= take;
      remaining -= take;
      done += take;
      progress.report(done, total);
      if (ok && progress.stopRequested()) return Problem::Cancelled;
    }
  }
  // The reader guarantees coverage; a gap here is a broken tree.
  if (ok && remaining > 0) return Problem::ImageCorrupt;
  if (!ok || !target->finish(node.size)) return out.freeBytes() < node.size ? Problem::DiskFull : Problem::WriteFailed;
  target.reset();
  return scratch.commit() ? Problem::None : Problem::WriteFailed;
}

}  // namespace

bool safeComponent(std::string_view name) {
  if (name.empty() || name == "." || name == ".." || name.size() > 255) return false;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) return false;
    if (std::strchr("/\\:*?\"<>|", c) && c != 0) return false;
  }
  // Windows drops trailing dots and blanks, which would make "a." the same file as "a".
  if (name.back() == '.' || name.back() == ' ') return false;
  return !toolio::isWindowsDeviceName(name);
}

bool isImageFileName(std::string_view name) {
  if (name.size() < 4) return false;
  std::string_view ext = name.substr(name.size() - 4);
  // ESD images and every part of a split set install too.
  return equalsIgnoreCase(ext, ".gho") || equalsIgnoreCase(ext, ".wim") || equalsIgnoreCase(ext, ".esd") ||
         equalsIgnoreCase(ext, ".swm");
}

Plan planExtraction(const Node& root, const FileFilter& wanted) {
  Plan plan;
  Walk w{wanted, plan, {}, 0};
  walk(root, "", w);
  if (plan.problem != Problem::None) {
    plan.folders.clear();
    plan.files.clear();
    plan.totalBytes = 0;
  }
  return plan;
}

CopyOutcome copyPlan(ImageSource& source, const Plan& plan, OutputTree& out, toolio::Progress& progress) {
  CopyOutcome outcome;
  std::vector<std::string> createdFolders;
  std::vector<std::string> copiedFiles;
  auto undo = [&](Problem problem) {
    for (auto it = copiedFiles.rbegin(); it != copiedFiles.rend(); ++it) out.removeFile(*it);
    for (auto it = createdFolders.rbegin(); it != createdFolders.rend(); ++it) out.removeFolder(*it);
    outcome.problem = problem;
    outcome.filesCopied = 0;
    return outcome;
  };

  if (out.freeBytes() < plan.totalBytes) return undo(Problem::DiskFull);
  for (const std::string& folder : plan.folders) {
    if (out.folderExists(folder)) continue;
    if (!out.createFolder(folder)) return undo(Problem::WriteFailed);
    createdFolders.push_back(folder);
  }

  std::vector<unsigned char> buffer(kCopyChunk);
  std::uint64_t done = 0;
  for (const PlannedFile& file : plan.files) {
    progress.item(file.path);
    progress.report(done, plan.totalBytes);
    if (progress.stopRequested()) return undo(Problem::Cancelled);
    if (Problem error = copyFile(source, *file.node, file.path, out, buffer, done, plan.totalBytes, progress);
        error != Problem::None)
      return undo(error);
    copiedFiles.push_back(file.path);
    outcome.bytesCopied += file.node->size;
    ++outcome.filesCopied;
  }
  progress.report(done, plan.totalBytes);
  return outcome;
}

}  // namespace iso
