#include "core/refusals.h"

#include "core/message_box.h"
#include "core/path_and_size.h"
#include "platform/gbk.h"

namespace core {

namespace {

using Check = std::optional<Refusal> (*)(const Request&, const Facts&);

bool restoring(const Request& r) { return r.mode == Mode::Restore; }
bool restores(ImageKind kind, const Request& r) { return restoring(r) && imageKindOf(r.imagePath) == kind; }
// The GHO engine works on the disk:partition designator, the WIM engine on the drive letter.
bool ghostRun(const Request& r) { return restores(ImageKind::Gho, r) || r.mode == Mode::GhostBackup; }
bool wimRun(const Request& r) { return restores(ImageKind::Wim, r) || r.mode == Mode::WimBackup; }

// Where the image lies, a mapped letter resolved.
const std::string& imageDrive(const Facts& f) { return f.imageDrivePath.empty() ? f.imageFullPath : f.imageDrivePath; }

std::optional<Refusal> warning(Refused why, std::string text) { return Refusal{why, std::move(text), kWarningBox}; }
std::optional<Refusal> error(Refused why, std::string text) { return Refusal{why, std::move(text), kErrorBox}; }

// The one-key action's own steps, in their order.

std::optional<Refusal> noImage(const Request& r, const Facts&) {
  if (!r.imagePath.empty()) return {};
  switch (r.mode) {
    case Mode::Restore: return warning(Refused::NoImage, "请选择映像文件！");
    case Mode::GhostBackup: return warning(Refused::NoImage, "请输入保存Gho映像文件路径！");
    case Mode::WimBackup: break;
  }
  return warning(Refused::NoImage, "请输入保存Imagex映像文件路径！");
}

std::optional<Refusal> noPartition(const Request& r, const Facts& f) {
  if (f.partitionChosen) return {};
  return warning(Refused::NoPartition, restoring(r) ? "请选择要还原的分区！" : "请选择要备份的分区！");
}

std::optional<Refusal> imageMissing(const Request& r, const Facts& f) {
  if (!restoring(r) || f.imageExists) return {};
  return warning(Refused::ImageMissing, "映像文件不存在！");
}

std::optional<Refusal> unsupportedKind(const Request& r, const Facts&) {
  if (!restores(ImageKind::Unsupported, r)) return {};
  return warning(Refused::UnsupportedKind, "不支持安装的映像格式！");
}

std::optional<Refusal> noMountLetter(const Request& r, const Facts& f) {
  // Going on would search a drive that does not hold this ISO (the previous mount,
  // or none) and offer its images as this ISO's.
  if (!restores(ImageKind::Iso, r) || !f.isoMountLetter.empty()) return {};
  return error(Refused::NoMountLetter, "检测到系统盘符异常,部分功能将无法正常使用！");
}

std::optional<Refusal> isoTooSmall(const Request& r, const Facts& f) {
  if (!restores(ImageKind::Iso, r) || static_cast<double>(f.imageBytes) / 1048576.0 - 20.0 > 0.0000001) return {};
  return warning(Refused::IsoTooSmall, "无效的ISO镜像文件,请选择正确的ISO镜像文件！");
}

// The program's own checks.

std::optional<Refusal> quoteInSavePath(const Request& r, const Facts&) {
  // The typed save path reaches the engine inside double quotes: a quote of its own
  // would end them early and let "&" or "|" run as commands. No file name holds one.
  if (restoring(r) || !gbk::contains(r.imagePath, "\"")) return {};
  return warning(Refused::QuoteInPath, "保存路径 " + r.imagePath + " 含有双引号,不是有效的文件路径！");
}

std::optional<Refusal> percentInPath(const Request& r, const Facts& f) {
  // A backup written elsewhere, or a restore read from elsewhere. The ISO mounter is
  // given the ISO's full path.
  const std::string& reaching = restores(ImageKind::Iso, r) ? f.imageFullPath : r.imagePath;
  return rewrittenPathRefusal(reaching, restoring(r), f.interpreterVariables);
}

std::optional<Refusal> notDiskPartition(const Request& r, const Facts&) {
  if (!ghostRun(r) || r.target.targetIndexUsable) return {};
  return warning(Refused::NotDiskPartition, "所选分区 " + r.target.targetDisplay +
                                                " 没有磁盘:分区形式的序号,Ghost无法" +
                                                (restoring(r) ? "还原" : "备份") + "该分区！");
}

std::optional<Refusal> ghostImageOnTarget(const Request& r, const Facts& f) {
  // Restoring there overwrites the image while it is read; backing up there images a
  // moving target.
  if (!ghostRun(r) || !onTargetPartition(imageDrive(f), r.target.targetDrive)) return {};
  return warning(Refused::ImageOnTarget,
                 restoring(r) ? "映像文件位于要还原的分区 " + r.target.targetDisplay + " 上,不能还原到该分区！"
                              : "备份文件不能保存在要备份的分区 " + r.target.targetDisplay + " 上！");
}

std::optional<Refusal> isoOnTarget(const Request& r, const Facts& f) {
  // Every image found is read from the ISO while the target is written: an ISO on the
  // target would be overwritten (or formatted away) by its own install.
  if (!restores(ImageKind::Iso, r) || !onTargetPartition(imageDrive(f), r.target.targetDrive)) return {};
  return warning(Refused::ImageOnTarget, "ISO镜像文件 " + r.imagePath + " 位于要还原的分区 " +
                                             r.target.targetDisplay + " 上,不能安装到该分区！");
}

std::optional<Refusal> noDriveLetter(const Request& r, const Facts&) {
  // The WIM engine works on a drive root; boot repair would even work on the current
  // drive's boot files.
  if (!wimRun(r) || !r.target.targetDrive.empty()) return {};
  return error(Refused::NoDriveLetter, "所选分区 " + r.target.targetDisplay + " 没有盘符,Imagex无法" +
                                           (restoring(r) ? "还原" : "备份") + "该分区！\r\n请先为它分配盘符。");
}

std::optional<Refusal> wimImageOnTarget(const Request& r, const Facts& f) {
  // A format (by hand too: the dialog may format) would destroy the image before it is
  // read; applied without one, the image's own partition is a target like any other.
  if (!restores(ImageKind::Wim, r) || r.options.format == FormatChoice::None ||
      !onTargetPartition(imageDrive(f), r.target.targetDrive))
    return {};
  return error(Refused::ImageOnTarget,
               "映像文件位于要还原的分区上,格式化该分区会毁掉映像文件本身。\r\n"
               "请在“格 式 化”中选择“跳过 None”,或选择其他分区,或先把映像文件复制到其他分区。");
}

std::optional<Refusal> saveInScratchFolder(const Request& r, const Facts& f) {
  // The scratch folder goes with all it holds once the capture has ended: the new
  // image would go with it.
  const std::string& folder = f.scratchFullPath;
  if (r.mode != Mode::WimBackup || folder.empty()) return {};
  if (!gbk::equalsIgnoreCase(f.imageFullPath, folder) && !gbk::startsWith(f.imageFullPath, folder + "\\", true))
    return {};
  return warning(Refused::SaveInScratchFolder, "保存路径 " + r.imagePath + " 位于备份缓存文件夹 " + folder +
                                                   " 中,该文件夹在备份结束后会被整个删除！\r\n请把映像文件保存到其他文件夹。");
}

std::optional<Refusal> targetChanged(const Request& r, const Facts& f) {
  // Disk numbers and letters are handed out again when a disk comes or goes: the
  // designator chosen may now name another partition, which the run would overwrite.
  if (!restoring(r) || !f.partitionsNow) return {};
  const Target& t = r.target;
  for (const ListedPartition& p : *f.partitionsNow) {
    if (p.index != t.targetIndex) continue;
    if (driveLetterOf(p.drive) == driveLetterOf(t.targetDrive) && p.kind == t.targetPartitionType && p.fileSystem == t.targetFileSystem &&
        p.total == t.targetTotal)
      return {};
    break;
  }
  return warning(Refused::TargetChanged, "所选分区 " + t.targetDisplay +
                                             " 已发生变化(可能插入或拔出了磁盘),分区列表已刷新,请重新选择要还原的分区！");
}

std::optional<Refusal> winpeBootTarget(const Request& r, const Facts& f) {
  // A restore formats or overwrites it and the boot repair rewrites its boot files:
  // the WinPE in use could not start again, and its own files vanish while it runs.
  if (!restoring(r)) return {};
  for (const std::string& root : f.winpeBootRoots) {
    if (!onTargetPartition(root, r.target.targetDrive)) continue;
    return error(Refused::WinpeBootPartition, "所选分区 " + r.target.targetDisplay +
                                                  " 存放着当前运行的WinPE的启动文件,还原、格式化或写入引导都会毁掉它,"
                                                  "不能对该分区操作！\r\n请选择其他分区。");
  }
  return {};
}

struct Row {
  Checkpoint at;
  Check check;
};

// In the order they are asked: a new check goes where its message must come.
constexpr Row kChecks[] = {
    {Checkpoint::OneKeyAction, noImage},
    {Checkpoint::OneKeyAction, noPartition},
    {Checkpoint::OneKeyAction, imageMissing},
    {Checkpoint::OneKeyAction, unsupportedKind},
    {Checkpoint::OneKeyAction, noMountLetter},
    {Checkpoint::OneKeyAction, isoTooSmall},
    {Checkpoint::OneKeyAction, quoteInSavePath},
    {Checkpoint::OneKeyAction, percentInPath},
    {Checkpoint::OneKeyAction, notDiskPartition},
    {Checkpoint::OneKeyAction, ghostImageOnTarget},
    {Checkpoint::OneKeyAction, isoOnTarget},
    {Checkpoint::OneKeyAction, saveInScratchFolder},
    {Checkpoint::OneKeyAction, targetChanged},
    {Checkpoint::OneKeyAction, winpeBootTarget},
    {Checkpoint::WindowConfirm, noDriveLetter},
    {Checkpoint::WindowConfirm, wimImageOnTarget},
    {Checkpoint::WindowConfirm, targetChanged},
};

}  // namespace

std::optional<Refusal> rewrittenPathRefusal(const std::string& path, bool image,
                                            const std::vector<std::string>& variables) {
  if (interpreterVariableIn(path, variables).empty()) return {};
  return warning(Refused::PercentInPath, (image ? "映像文件 " : "保存路径 ") + path +
                                             " 含有两个“%”,命令解释器会把其间的文字当作环境变量替换掉。请改用不含“%”的路径！");
}

Facts fileFactsOf(platform::FileSystem& files, const Request& request) {
  Facts facts;
  if (request.imagePath.empty()) return facts;
  facts.imageFullPath = files.fullPath(request.imagePath);
  if (request.mode == Mode::WimBackup) facts.scratchFullPath = files.fullPath(scratchFolderFor(request.imagePath));
  if (!restoring(request)) return facts;
  facts.imageExists = files.exists(request.imagePath);
  facts.imageBytes = fileSizeOf(files, request.imagePath);
  return facts;
}

Facts requestFactsOf(platform::Platform& os, const Request& request) {
  Facts facts = fileFactsOf(os.files, request);
  facts.interpreterVariables = os.system.environmentNames();
  if (!facts.imageFullPath.empty()) facts.imageDrivePath = throughMappedLetters(os.volumes, facts.imageFullPath);
  return facts;
}

std::optional<Refusal> firstRefusal(const Request& request, const Facts& facts, Checkpoint at) {
  for (const Row& row : kChecks) {
    if (row.at != at) continue;
    if (std::optional<Refusal> refusal = row.check(request, facts)) return refusal;
  }
  return std::nullopt;
}

std::string interpreterVariableIn(std::string_view text, const std::vector<std::string>& variables) {
  // Made by the interpreter itself; a variable of the same name would only change the value.
  static constexpr std::string_view kDynamic[] = {"CD",           "DATE",          "TIME",
                                                  "RANDOM",       "ERRORLEVEL",    "CMDEXTVERSION",
                                                  "CMDCMDLINE",   "__CD__",        "__APPDIR__",
                                                  "HIGHESTNUMANODENUMBER"};
  auto known = [&](std::string_view name) {
    if (name.empty()) return false;
    for (const std::string& v : variables)
      if (gbk::equalsIgnoreCase(v, name)) return true;
    for (std::string_view v : kDynamic)
      if (gbk::equalsIgnoreCase(v, name)) return true;
    return false;
  };
  // Every pair of neighbouring "%" (below 0x40, never a GBK trail byte): where the
  // first pair names nothing the interpreter goes on, and its second "%" may open the
  // next one.
  for (std::size_t open = text.find('%'); open != std::string_view::npos;) {
    const std::size_t close = text.find('%', open + 1);
    if (close == std::string_view::npos) break;
    const std::string_view name = text.substr(open + 1, close - open - 1);
    const std::size_t colon = gbk::find(name, ":");
    if (known(name) || (colon != std::string_view::npos && known(name.substr(0, colon))))
      return std::string(text.substr(open, close - open + 1));
    open = close;
  }
  return {};
}

std::string throughMappedLetters(platform::Volumes& volumes, std::string fullPath) {
  // A letter may be defined onto a folder of another mapped letter: a few steps, never a loop.
  for (int step = 0; step < 8 && driveLetterOf(fullPath) != 0; ++step) {
    const std::string target = volumes.dosDeviceTarget(fullPath.substr(0, 2));
    // \??\D:\folder; a volume's own letter names a device (\Device\HarddiskVolume3).
    if (target.size() < 6 || target.compare(0, 4, "\\??\\") != 0 || driveLetterOf(target.substr(4)) == 0) break;
    std::string folder = target.substr(4);
    std::string rest = fullPath.substr(2);
    if (gbk::endsWithBackslash(folder) && !rest.empty() && rest.front() == '\\') folder.pop_back();
    if (gbk::equalsIgnoreCase(folder + rest, fullPath)) break;
    fullPath = folder + rest;
  }
  return fullPath;
}

bool onTargetPartition(const std::string& fullPath, const std::string& targetDrive) {
  const char target = driveLetterOf(targetDrive);
  return target != 0 && driveLetterOf(fullPath) == target;
}

}  // namespace core
