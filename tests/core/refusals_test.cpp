#include "core/refusals.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_os.h"
#include "tests/support/gbk_text.h"

namespace {

using core::Checkpoint;
using core::Mode;

constexpr unsigned kWarning = 0x2030;  // exclamation, task-modal
constexpr unsigned kStop = 0x2010;     // stop sign, task-modal

// A partition row as the main window's selection copies it.
core::Target row(const char* drive, const char* index, const char* display, bool diskPartition = true) {
  core::Target t;
  t.targetDrive = drive;
  t.targetIndex = index;
  t.targetDisplay = display;
  t.targetIndexUsable = diskPartition;
  return t;
}

// A request whose every check passes, and its facts: each case breaks one thing.
struct Case {
  const char* what;
  Mode mode;
  const char* image;
  core::Target target;
  core::Facts facts;
  Checkpoint at;
  const char* text;  // empty: no refusal
  unsigned style;
  core::FormatChoice format = core::FormatChoice::AutoNtfs;  // chosen in the restore window
};

core::Facts seen(const char* fullPath, std::uint64_t bytes = 4000ull << 20, const char* letter = "Z",
                 bool chosen = true, bool exists = true) {
  core::Facts f;
  f.partitionChosen = chosen;
  f.imageExists = exists;
  f.imageFullPath = fullPath;
  f.imageBytes = bytes;
  f.isoMountLetter = letter;
  f.interpreterVariables = {"=D:", "Path", "TEMP", "USERNAME"};
  return f;
}

// The case's request at its checkpoint: the first refusal's bytes and style, or none.
void expectFirstRefusal(const Case& c) {
  core::Request request;
  request.mode = c.mode;
  request.imagePath = c.image;
  request.target = c.target;
  request.options.format = c.format;
  const std::optional<core::Refusal> refusal = core::firstRefusal(request, c.facts, c.at);
  if (!*c.text) {
    EXPECT_FALSE(refusal) << c.what << ": " << gbktest::toUtf8(refusal->text);
    return;
  }
  ASSERT_TRUE(refusal) << c.what;
  EXPECT_GBK_EQ(c.text, refusal->text) << c.what;
  EXPECT_EQ(refusal->style, c.style) << c.what;
}

const core::Target kC = row("C:\\", "1:1", "C:\\(1:1)");
const core::Target kD = row("D:\\", "1:2", "D:\\(1:2)");
const core::Target kDynamic = row("E:\\", "|E:", "E:\\(|E:)", false);
const core::Target kNoLetter = row("", "1:3", "(1:3)");
constexpr auto kAtOk = Checkpoint::OneKeyAction;
constexpr auto kInWindow = Checkpoint::WindowConfirm;

TEST(Refusals, FirstFailingCheckInOrderWithTheBytesTheUserSees) {
  const Case cases[] = {
      // The one-key action's own steps.
      {"nothing chosen", Mode::Restore, "", kC, seen("", 0, "", false, false), kAtOk, "请选择映像文件！", kWarning},
      {"no Ghost save path", Mode::GhostBackup, "", kC, seen("", 0, "", false), kAtOk, "请输入保存Gho映像文件路径！", kWarning},
      {"no WIM save path", Mode::WimBackup, "", kC, seen("", 0, "", false), kAtOk, "请输入保存Imagex映像文件路径！", kWarning},
      {"no row", Mode::Restore, "D:\\a.gho", kC, seen("D:\\a.gho", 1, "Z", false, false), kAtOk, "请选择要还原的分区！",
       kWarning},
      {"no row to back up", Mode::GhostBackup, "D:\\%b%\".gho", kC, seen("D:\\%b%\".gho", 0, "Z", false), kAtOk,
       "请选择要备份的分区！", kWarning},
      {"missing image", Mode::Restore, "D:\\a.gho", kDynamic, seen("D:\\a.gho", 0, "Z", true, false), kAtOk,
       "映像文件不存在！", kWarning},
      {"unsupported before the program's own checks", Mode::Restore, "C:\\%a%.txt", kC, seen("C:\\%a%.txt"), kAtOk,
       "不支持安装的映像格式！", kWarning},
      {"no mount letter before the size", Mode::Restore, "D:\\w.iso", kC, seen("D:\\w.iso", 1, ""), kAtOk,
       "检测到系统盘符异常,部分功能将无法正常使用！", kStop},
      {"20 MB", Mode::Restore, "C:\\w.ISO", kC, seen("C:\\w.ISO", 20ull << 20), kAtOk,
       "无效的ISO镜像文件,请选择正确的ISO镜像文件！", kWarning},
      // The program's own.
      {"quote", Mode::WimBackup, "\"D:\\b.wim\"", kC, seen("\"D:\\b.wim\""), kAtOk,
       "保存路径 \"D:\\b.wim\" 含有双引号,不是有效的文件路径！", kWarning},
      {"a variable between two percent signs", Mode::Restore, "D:\\%USERNAME%.iso", kC, seen("D:\\%USERNAME%.iso"),
       kAtOk, "映像文件 D:\\%USERNAME%.iso 含有两个“%”,命令解释器会把其间的文字当作环境变量替换掉。请改用不含“%”的路径！",
       kWarning},
      {"the ISO's full path is what the mounter is given", Mode::Restore, "w.iso", kC, seen("D:\\%temp%\\w.iso"), kAtOk,
       "映像文件 D:\\%temp%\\w.iso 含有两个“%”,命令解释器会把其间的文字当作环境变量替换掉。请改用不含“%”的路径！",
       kWarning},
      {"a variable's substring", Mode::WimBackup, "D:\\%PATH:~0,2%.wim", kC, seen("D:\\%PATH:~0,2%.wim"), kAtOk,
       "保存路径 D:\\%PATH:~0,2%.wim 含有两个“%”,命令解释器会把其间的文字当作环境变量替换掉。请改用不含“%”的路径！",
       kWarning},
      {"dynamic volume, restore", Mode::Restore, "C:\\a.gho", kDynamic, seen("C:\\a.gho"), kAtOk,
       "所选分区 E:\\(|E:) 没有磁盘:分区形式的序号,Ghost无法还原该分区！", kWarning},
      {"dynamic volume, backup", Mode::GhostBackup, "C:\\a.gho", kDynamic, seen("C:\\a.gho"), kAtOk,
       "所选分区 E:\\(|E:) 没有磁盘:分区形式的序号,Ghost无法备份该分区！", kWarning},
      {"GHO on its target", Mode::Restore, "d:\\a.gho", kD, seen("d:\\a.gho"), kAtOk,
       "映像文件位于要还原的分区 D:\\(1:2) 上,不能还原到该分区！", kWarning},
      {"relative save path on the target", Mode::GhostBackup, "b.gho", kD, seen("D:\\work\\b.gho"), kAtOk,
       "备份文件不能保存在要备份的分区 D:\\(1:2) 上！", kWarning},
      {"ISO on its target", Mode::Restore, "w.iso", kD, seen("D:\\w.iso"), kAtOk,
       "ISO镜像文件 w.iso 位于要还原的分区 D:\\(1:2) 上,不能安装到该分区！", kWarning},
      // What passes at the OK button.
      {"one percent sign", Mode::GhostBackup, "D:\\50%.gho", kC, seen("D:\\50%.gho"), kAtOk, "", 0},
      {"no variable between the percent signs", Mode::WimBackup, "D:\\50%\\100%.wim", kC, seen("D:\\50%\\100%.wim"),
       kAtOk, "", 0},
      {"a name no variable has", Mode::Restore, "D:\\%a%.gho", kC, seen("D:\\%a%.gho"), kAtOk, "", 0},
      {"a relative path reaches the engine as typed", Mode::Restore, "a.gho", kC, seen("D:\\%TEMP%\\a.gho"), kAtOk, "",
       0},
      {"WIM on its target: the window asks", Mode::Restore, "C:\\a.wim", kC, seen("C:\\a.wim"), kAtOk, "", 0},
      {"WIM without a letter: the window asks", Mode::Restore, "D:\\a.wim", kNoLetter, seen("D:\\a.wim"), kAtOk, "", 0},
      {"network image", Mode::Restore, "\\\\srv\\a.gho", kC, seen("\\\\srv\\a.gho"), kAtOk, "", 0},
      // The progress windows' OK buttons.
      {"WIM restore without a letter", Mode::Restore, "C:\\a.wim", kNoLetter, seen("C:\\a.wim"), kInWindow,
       "所选分区 (1:3) 没有盘符,Imagex无法还原该分区！\r\n请先为它分配盘符。", kStop},
      {"WIM capture without a letter", Mode::WimBackup, "D:\\b.wim", kNoLetter, seen("D:\\b.wim"), kInWindow,
       "所选分区 (1:3) 没有盘符,Imagex无法备份该分区！\r\n请先为它分配盘符。", kStop},
      {"relative WIM on its target, to be formatted", Mode::Restore, "images\\a.wim", row("c:", "1:1", "c:(1:1)"),
       seen("C:\\work\\images\\a.wim"), kInWindow,
       "映像文件位于要还原的分区上,格式化该分区会毁掉映像文件本身。\r\n"
       "请在“格 式 化”中选择“跳过 None”,或选择其他分区,或先把映像文件复制到其他分区。",
       kStop},
      {"WIM on its target, formatted by hand", Mode::Restore, "C:\\a.wim", row("C:", "1:1", "C:(1:1)"), seen("C:\\a.wim"),
       kInWindow,
       "映像文件位于要还原的分区上,格式化该分区会毁掉映像文件本身。\r\n"
       "请在“格 式 化”中选择“跳过 None”,或选择其他分区,或先把映像文件复制到其他分区。",
       kStop, core::FormatChoice::Manual},
      {"WIM on its target, applied without a format", Mode::Restore, "C:\\a.wim", row("C:", "1:1", "C:(1:1)"),
       seen("C:\\a.wim"), kInWindow, "", 0, core::FormatChoice::None},
      {"WIM elsewhere", Mode::Restore, "D:\\a.wim", row("C:", "1:1", "C:(1:1)"), seen("D:\\a.wim"), kInWindow, "", 0},
      {"capture onto its own partition is the engine's matter", Mode::WimBackup, "C:\\b.wim", kC, seen("C:\\b.wim"),
       kInWindow, "", 0},
  };
  for (const Case& c : cases) expectFirstRefusal(c);
}

// A request that fails several checks: the one-key action's own warning comes first,
// the program's refusals only after them.
TEST(Refusals, TheProgramsRefusalsComeAfterTheActionsOwnChecks) {
  const Case cases[] = {
      {"ISO on its target, no mount letter", Mode::Restore, "D:\\%TEMP%.iso", kD, seen("D:\\%TEMP%.iso", 1, ""), kAtOk,
       "检测到系统盘符异常,部分功能将无法正常使用！", kStop},
      {"ISO on its target, 20 MB", Mode::Restore, "D:\\%TEMP%.iso", kD, seen("D:\\%TEMP%.iso", 20ull << 20), kAtOk,
       "无效的ISO镜像文件,请选择正确的ISO镜像文件！", kWarning},
      {"ISO on its target, missing", Mode::Restore, "D:\\w.iso", kD, seen("D:\\w.iso", 0, "Z", true, false), kAtOk,
       "映像文件不存在！", kWarning},
      {"GHO on a dynamic volume and its target, no row", Mode::Restore, "E:\\%TEMP%.gho", kDynamic,
       seen("E:\\%TEMP%.gho", 1, "Z", false), kAtOk, "请选择要还原的分区！", kWarning},
      {"quote and percent, no row", Mode::WimBackup, "C:\\%TEMP%\"b.wim", kC, seen("C:\\%TEMP%\"b.wim", 0, "Z", false),
       kAtOk, "请选择要备份的分区！", kWarning},
      {"percent and on its target, no row", Mode::GhostBackup, "C:\\%TEMP%.gho", kC, seen("C:\\%TEMP%.gho", 0, "Z", false),
       kAtOk, "请选择要备份的分区！", kWarning},
      {"percent in an unsupported file", Mode::Restore, "C:\\%TEMP%.txt", kC, seen("C:\\%TEMP%.txt"), kAtOk,
       "不支持安装的映像格式！", kWarning},
      // Among the program's own: the path itself, then what the target makes of it.
      {"quote before percent", Mode::GhostBackup, "C:\\%TEMP%\"b.gho", kC, seen("C:\\%TEMP%\"b.gho"), kAtOk,
       "保存路径 C:\\%TEMP%\"b.gho 含有双引号,不是有效的文件路径！", kWarning},
      {"percent before the target", Mode::GhostBackup, "E:\\%TEMP%.gho", kDynamic, seen("E:\\%TEMP%.gho"), kAtOk,
       "保存路径 E:\\%TEMP%.gho 含有两个“%”,命令解释器会把其间的文字当作环境变量替换掉。请改用不含“%”的路径！", kWarning},
      {"dynamic volume before its own image", Mode::Restore, "E:\\a.gho", kDynamic, seen("E:\\a.gho"), kAtOk,
       "所选分区 E:\\(|E:) 没有磁盘:分区形式的序号,Ghost无法还原该分区！", kWarning},
  };
  for (const Case& c : cases) expectFirstRefusal(c);
}

TEST(Refusals, FactsComeFromTheFileSystemAsTheEngineWouldSeeIt) {
  fake::Files files;
  files.currentDirectory = "D:\\work";
  files.addSizedFile("D:\\work\\w.iso", 30ull << 20);
  core::Request restore;
  restore.imagePath = "D:\\work\\w.iso";
  const core::Facts f = core::fileFactsOf(files, restore);
  EXPECT_TRUE(f.imageExists);
  EXPECT_EQ(f.imageFullPath, "D:\\work\\w.iso");
  EXPECT_EQ(f.imageBytes, 30ull << 20);
  EXPECT_FALSE(f.partitionChosen) << "the caller's to see";
  EXPECT_TRUE(f.interpreterVariables.empty()) << "the environment is not the file system's";
  restore.imagePath = "gone.iso";
  EXPECT_FALSE(core::fileFactsOf(files, restore).imageExists);
  EXPECT_EQ(core::fileFactsOf(files, restore).imageFullPath, "D:\\work\\gone.iso");

  core::Request backup;
  backup.mode = Mode::WimBackup;
  backup.imagePath = "new.wim";
  EXPECT_EQ(core::fileFactsOf(files, backup).imageFullPath, "D:\\work\\new.wim");
  EXPECT_EQ(core::fileFactsOf(files, core::Request{}).imageFullPath, "") << "no path, nothing asked";

  fake::World world;
  world.system.environment = {"Path", "=C:"};
  EXPECT_EQ(core::requestFactsOf(world.os, backup).interpreterVariables, (std::vector<std::string>{"Path", "=C:"}));
}

// The interpreter replaces %NAME% (even inside quotes) only when NAME is one of its
// variables, in any letter case, or NAME:~... or NAME:a=b of one; it leaves the text
// alone otherwise.
TEST(Refusals, TheVariablesTheInterpreterWouldReplace) {
  const std::vector<std::string> variables = {"=C:", "Path", "TEMP", "系统"};
  const std::pair<const char*, const char*> cases[] = {
      {"D:\\%TEMP%\\a.gho", "%TEMP%"},
      {"D:\\%temp%\\a.gho", "%temp%"},
      {"D:\\%Path:~0,3%.gho", "%Path:~0,3%"},
      {"D:\\%PATH:a=b%.gho", "%PATH:a=b%"},
      {"%=C:%", "%=C:%"},
      {"D:\\%系统%.gho", "%系统%"},
      // The interpreter's own, whatever the environment holds.
      {"D:\\%cd%\\a.gho", "%cd%"},
      {"D:\\%DATE%.gho", "%DATE%"},
      {"D:\\%RANDOM%.gho", "%RANDOM%"},
      {"D:\\%__CD__%.gho", "%__CD__%"},
      // The second "%" of a pair that names nothing may begin one that does.
      {"D:\\50%TEMP%.gho", "%TEMP%"},
      {"D:\\%x%TEMP%.gho", "%TEMP%"},
      {"D:\\50%\\100%.gho", ""},
      {"D:\\%nosuch%.gho", ""},
      {"D:\\%TEMPS%.gho", ""},
      {"D:\\%%TEMP.gho", ""},
      {"D:\\%TEMP.gho", ""},
      {"D:\\%:TEMP%.gho", ""},
      {"", ""},
  };
  for (const auto& [text, found] : cases)
    EXPECT_GBK_EQ(found, core::interpreterVariableIn(text, variables)) << gbktest::toUtf8(text);
}

// A WIM backup's scratch folder (the save path's first three characters +
// ImagexTemp) is deleted with all it holds after the capture: a save path inside it
// would lose the new image at once.
TEST(Refusals, SavePathInsideTheCaptureScratchFolder) {
  fake::Files files;
  files.currentDirectory = "D:\\work";
  const struct {
    Mode mode;
    const char* path;
    const char* folder;  // the folder the refusal names; nullptr: no refusal
  } cases[] = {
      {Mode::WimBackup, "D:\\ImagexTemp\\b.wim", "D:\\ImagexTemp"},
      {Mode::WimBackup, "e:\\imagextemp\\sub\\b.wim", "e:\\ImagexTemp"},
      {Mode::WimBackup, "D:\\ImagexTemp", "D:\\ImagexTemp"},
      // Relative: the folder is named by the path's own first three characters.
      {Mode::WimBackup, "abcImagexTemp\\b.wim", "D:\\work\\abcImagexTemp"},
      {Mode::WimBackup, "ImagexTemp\\b.wim", nullptr},
      {Mode::WimBackup, "D:\\ImagexTemp2\\b.wim", nullptr},
      {Mode::WimBackup, "D:\\ImagexTemp.wim", nullptr},
      {Mode::WimBackup, "D:\\backup\\ImagexTemp\\b.wim", nullptr},
      {Mode::GhostBackup, "D:\\ImagexTemp\\b.gho", nullptr},
  };
  for (const auto& c : cases) {
    core::Request request;
    request.mode = c.mode;
    request.imagePath = c.path;
    request.target = kC;
    core::Facts facts = core::fileFactsOf(files, request);
    facts.partitionChosen = true;
    const std::optional<core::Refusal> refusal = core::firstRefusal(request, facts, kAtOk);
    if (!c.folder) {
      EXPECT_FALSE(refusal) << c.path << ": " << refusal->text;
      continue;
    }
    ASSERT_TRUE(refusal) << c.path;
    EXPECT_GBK_EQ(std::string("保存路径 ") + c.path + " 位于备份缓存文件夹 " + c.folder +
                      " 中,该文件夹在备份结束后会被整个删除！\r\n请把映像文件保存到其他文件夹。",
                  refusal->text);
    EXPECT_EQ(refusal->style, kWarning);
    EXPECT_FALSE(core::firstRefusal(request, facts, kInWindow)) << "asked once, at the OK button";
  }
}

TEST(Refusals, ImageKindsByExtensionInAnyCase) {
  const std::pair<const char*, core::ImageKind> cases[] = {
      {"D:\\a.gho", core::ImageKind::Gho},        {"D:\\a.GhO", core::ImageKind::Gho},
      {"D:\\a.Wim", core::ImageKind::Wim},        {"Z:\\w.iso", core::ImageKind::Iso},
      {"D:\\a.gho.bak", core::ImageKind::Unsupported}, {"D:\\a.swm", core::ImageKind::Wim},
      {"D:\\sources\\install.ESD", core::ImageKind::Wim}, {"D:\\a.esd.txt", core::ImageKind::Unsupported},
      {"D:\\gho", core::ImageKind::Unsupported},
  };
  for (const auto& [path, kind] : cases) EXPECT_EQ(core::imageKindOf(path), kind) << path;
}

}  // namespace

namespace {

// Disks come and go while the program runs: a listing taken just before a restore
// must show the chosen disk:partition as the user saw it, or nothing is written.
TEST(Refusals, APartitionThatChangedSinceItWasChosenIsNotRestoredOnto) {
  core::Target chosen = row("D:\\", "1:2", "D:\\(1:2)");
  chosen.targetPartitionType = "主分区,MBR";
  chosen.targetFileSystem = "NTFS";
  chosen.targetTotal = "100.00GB";
  const core::ListedPartition same{"D:\\", "1:2", "主分区,MBR", "NTFS", "100.00GB"};
  const core::ListedPartition other{"C:\\", "1:1", "主分区,MBR", "NTFS", "60.00GB"};
  auto with = [&](core::ListedPartition p, std::string core::ListedPartition::*field, const char* value) {
    p.*field = value;
    return p;
  };
  struct Change {
    const char* what;
    std::optional<std::vector<core::ListedPartition>> now;
    bool refused;
  };
  const Change changes[] = {
      {"not listed again", std::nullopt, false},
      {"unchanged", std::vector<core::ListedPartition>{other, same}, false},
      {"gone", std::vector<core::ListedPartition>{other}, true},
      {"nothing listed", std::vector<core::ListedPartition>{}, true},
      {"another letter", std::vector<core::ListedPartition>{with(same, &core::ListedPartition::drive, "F:\\")}, true},
      {"no letter", std::vector<core::ListedPartition>{with(same, &core::ListedPartition::drive, "")}, true},
      {"another kind", std::vector<core::ListedPartition>{with(same, &core::ListedPartition::kind, "主分区,GPT")}, true},
      {"another file system", std::vector<core::ListedPartition>{with(same, &core::ListedPartition::fileSystem, "FAT32")},
       true},
      {"another size", std::vector<core::ListedPartition>{with(same, &core::ListedPartition::total, "14.50GB")}, true},
  };
  const char* kChanged = "所选分区 D:\\(1:2) 已发生变化(可能插入或拔出了磁盘),分区列表已刷新,请重新选择要还原的分区！";
  for (const Change& c : changes) {
    SCOPED_TRACE(c.what);
    for (const char* image : {"E:\\a.gho", "E:\\a.wim", "E:\\a.iso"}) {
      SCOPED_TRACE(image);
      core::Request request;
      request.mode = Mode::Restore;
      request.imagePath = image;
      request.target = chosen;
      core::Facts facts = seen(image);
      facts.partitionsNow = c.now;
      const auto refusal = core::firstRefusal(request, facts, Checkpoint::OneKeyAction);
      ASSERT_EQ(refusal.has_value(), c.refused);
      if (!c.refused) continue;
      EXPECT_EQ(refusal->reason, core::Refused::TargetChanged);
      EXPECT_GBK_EQ(kChanged, refusal->text);
      EXPECT_EQ(refusal->style, kWarning);
    }
    // The restore window asks again when its OK is pressed.
    core::Request wim;
    wim.imagePath = "E:\\a.wim";
    wim.target = chosen;
    core::Facts facts = seen("E:\\a.wim");
    facts.partitionsNow = c.now;
    const auto atConfirm = core::firstRefusal(wim, facts, Checkpoint::WindowConfirm);
    EXPECT_EQ(atConfirm.has_value(), c.refused);
    // A backup reads only.
    for (Mode backup : {Mode::GhostBackup, Mode::WimBackup}) {
      core::Request request;
      request.mode = backup;
      request.imagePath = "E:\\b.gho";
      request.target = chosen;
      core::Facts backupFacts = seen("E:\\b.gho");
      backupFacts.partitionsNow = c.now;
      EXPECT_FALSE(core::firstRefusal(request, backupFacts, Checkpoint::OneKeyAction));
    }
  }
  // The checks before it keep their say: an image on the target is named as such.
  core::Request onTarget;
  onTarget.imagePath = "D:\\a.gho";
  onTarget.target = chosen;
  core::Facts facts = seen("D:\\a.gho");
  facts.partitionsNow = std::vector<core::ListedPartition>{};
  EXPECT_EQ(core::firstRefusal(onTarget, facts, Checkpoint::OneKeyAction)->reason, core::Refused::ImageOnTarget);
}

}  // namespace

namespace {

// A letter the ISO tool defines onto a folder (DefineDosDevice) is no volume of its own:
// an image read through it lies on the folder's drive, and is refused there like any other.
TEST(Refusals, AnImageBehindALetterMappedOntoAFolderLiesOnThatFoldersDrive) {
  fake::World world;
  world.volumes.dosDevices = {{"Z:", "\\??\\D:\\VrelISO_x"},
                              {"Y:", "\\??\\z:\\sources\\"},
                              {"R:", "\\??\\D:\\"},
                              {"E:", "\\Device\\HarddiskVolume5"},
                              {"L:", "\\??\\L:\\loop"}};
  const std::pair<const char*, const char*> paths[] = {
      {"Z:\\sources\\install.wim", "D:\\VrelISO_x\\sources\\install.wim"},
      {"y:\\a.gho", "D:\\VrelISO_x\\sources\\a.gho"},
      {"R:\\a.gho", "D:\\a.gho"},
      {"E:\\a.gho", "E:\\a.gho"},
      {"C:\\a.gho", "C:\\a.gho"},
      {"\\\\server\\share\\a.gho", "\\\\server\\share\\a.gho"},
  };
  for (const auto& [path, onDrive] : paths) EXPECT_EQ(core::throughMappedLetters(world.volumes, path), onDrive) << path;
  EXPECT_EQ(core::throughMappedLetters(world.volumes, "L:\\a.gho").substr(0, 2), "L:") << "a letter onto itself ends";

  core::Request restore;
  restore.imagePath = "Z:\\a.gho";
  restore.target = row("D:\\", "1:2", "D:\\(1:2)");
  core::Facts facts = core::requestFactsOf(world.os, restore);
  facts.partitionChosen = facts.imageExists = true;
  EXPECT_EQ(facts.imageFullPath, "Z:\\a.gho") << "the engine is still given the path as typed";
  std::optional<core::Refusal> refusal = core::firstRefusal(restore, facts, Checkpoint::OneKeyAction);
  ASSERT_TRUE(refusal);
  EXPECT_GBK_EQ("映像文件位于要还原的分区 D:\\(1:2) 上,不能还原到该分区！", refusal->text);

  restore.imagePath = "Z:\\w.iso";
  facts = core::requestFactsOf(world.os, restore);
  facts.partitionChosen = facts.imageExists = true;
  facts.imageBytes = 4000ull << 20;
  facts.isoMountLetter = "W";
  refusal = core::firstRefusal(restore, facts, Checkpoint::OneKeyAction);
  ASSERT_TRUE(refusal);
  EXPECT_GBK_EQ("ISO镜像文件 Z:\\w.iso 位于要还原的分区 D:\\(1:2) 上,不能安装到该分区！", refusal->text);

  restore.imagePath = "Z:\\a.wim";
  facts = core::requestFactsOf(world.os, restore);
  refusal = core::firstRefusal(restore, facts, Checkpoint::WindowConfirm);
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->reason, core::Refused::ImageOnTarget);

  // The volume's own letter: elsewhere, the restore goes on.
  restore.imagePath = "E:\\a.gho";
  facts = core::requestFactsOf(world.os, restore);
  facts.partitionChosen = facts.imageExists = true;
  EXPECT_FALSE(core::firstRefusal(restore, facts, Checkpoint::OneKeyAction));
}

}  // namespace
