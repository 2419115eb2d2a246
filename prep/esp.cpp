#include "prep/esp.h"

#include <set>
#include <vector>

#include "disks/volumes.h"
#include "platform/gbk.h"
#include "prep/boot_repair.h"

namespace prep {

namespace {

bool sameRoot(const std::string& a, const std::string& b) {
  return a.size() >= 2 && b.size() >= 2 && gbk::equalsIgnoreCase(a.substr(0, 2), b.substr(0, 2));
}

// Partition numbers the lister calls EFI on the given disk ("3:1" with kind "EFI分区,GPT").
std::set<unsigned long> listedEspPartitions(const ui::Control& partitionList, int disk) {
  std::set<unsigned long> numbers;
  const std::string prefix = std::to_string(disk) + ":";
  for (int row = 0; row < partitionList.rowCount(); ++row) {
    const std::string index = partitionList.cell(row, 1);
    if (!gbk::startsWith(index, prefix) || !gbk::startsWith(partitionList.cell(row, 2), "EFI", true)) continue;
    const long number = gbk::leadingInteger(index.substr(prefix.size()));
    if (number > 0) numbers.insert(static_cast<unsigned long>(number));
  }
  return numbers;
}

std::string freeDriveRoot(platform::Platform& os) {
  std::set<char> used;
  for (const std::string& root : gbk::split(os.volumes.logicalDriveStrings(), std::string_view("\0", 1)))
    if (!root.empty()) used.insert(gbk::asciiUpper(root[0]));
  for (const char* letter = kEspLetters; *letter; ++letter)
    if (!used.count(*letter)) return std::string(1, *letter) + ":\\";
  return {};
}

}  // namespace

void findEspOf(core::Context& ctx, const core::Target& target, const ui::Control* partitionList, bool lendLetter) {
  const core::EspState previous = ctx.state.esp;
  core::EspState esp;
  esp.searchedFor = target.targetDrive;
  std::string drive = target.targetDrive;
  const int disk = disks::diskNumberOf(ctx.os, drive);  // the lister's numbering: device number + 1
  if (disk < 1) {
    ctx.state.esp = esp;
    return;
  }
  esp.diskKnown = true;
  const std::set<unsigned long> listed =
      partitionList ? listedEspPartitions(*partitionList, disk) : std::set<unsigned long>();
  esp.found = !listed.empty();
  for (const platform::PartitionVolume& v : ctx.os.volumes.partitionVolumes()) {
    if (v.deviceNumber + 1 != static_cast<unsigned long>(disk)) continue;
    if (!gbk::equalsIgnoreCase(v.gptType, platform::kEspPartitionType) && !listed.count(v.partitionNumber)) continue;
    esp.found = true;
    esp.volumeName = v.volumeName;
    esp.root = v.root;
    break;
  }
  // A letter lent earlier in this run stays ours to take back.
  esp.mountedHere = previous.mountedHere && !esp.root.empty() && sameRoot(previous.root, esp.root);
  esp.used = esp.mountedHere && previous.used;
  if (lendLetter && esp.found && esp.root.empty() && !esp.volumeName.empty()) {
    const std::string root = freeDriveRoot(ctx.os);
    if (!root.empty() && ctx.os.volumes.mountVolume(root, esp.volumeName)) {
      esp.root = root;
      esp.mountedHere = true;
    }
  }
  ctx.state.esp = esp;
}

std::vector<std::string> bootTargetDrives(platform::Platform& os) {
  std::vector<std::string> roots, kept;
  disks::driveRoots(os, roots, disks::kFixedRoots);
  for (const std::string& root : roots)
    if (!root.empty() && gbk::asciiUpper(root[0]) != 'X') kept.push_back(root);
  return kept;
}

void fillBootTargetCombo(core::Context& ctx, core::Target& target, const ui::Control& partitionList,
                         ui::Control& bootTargetCombo) {
  for (const std::string& root : bootTargetDrives(ctx.os)) bootTargetCombo.addItem(root);
  disks::markDefaultBootTarget(ctx.os, partitionList, target.targetDrive, bootTargetCombo);
  offerEspBootTarget(ctx, target, partitionList, bootTargetCombo);
}

void offerEspBootTarget(core::Context& ctx, const core::Target& target, const ui::Control& partitionList,
                        ui::Control& bootTargetCombo) {
  if (!isGptText(target.targetPartitionType)) return;
  // A letter lent for another target is given back before a new search.
  if (!ctx.state.esp.searchedFor.empty() && ctx.state.esp.searchedFor != target.targetDrive)
    releaseUnusedEspLetter(ctx.os, ctx.state);
  findEspOf(ctx, target, &partitionList, true);
  const std::string& root = ctx.state.esp.root;
  if (root.empty()) return;
  const std::string suffix = disks::kRecommendedSuffix;
  int espItem = -1;
  for (int i = 0; i < bootTargetCombo.count(); ++i) {
    std::string text = bootTargetCombo.itemText(i);
    if (gbk::endsWith(text, suffix)) {
      text.resize(text.size() - suffix.size());
      bootTargetCombo.setItemText(i, text);
    }
    if (espItem < 0 && gbk::startsWith(text, root, true)) espItem = i;
  }
  if (espItem < 0) espItem = bootTargetCombo.addItem(root);
  bootTargetCombo.setItemText(espItem, bootTargetCombo.itemText(espItem) + suffix);
  bootTargetCombo.setSelection(espItem);
}

bool isEspRoot(core::Context& ctx, const std::string& root) {
  if (root.size() < 2) return false;
  if (ctx.state.esp.found && sameRoot(ctx.state.esp.root, root)) return true;
  for (const platform::PartitionVolume& v : ctx.os.volumes.partitionVolumes())
    if (sameRoot(v.root, root) && gbk::equalsIgnoreCase(v.gptType, platform::kEspPartitionType)) return true;
  return false;
}

void releaseEspLetter(platform::Platform& os, core::AppState& state) {
  if (state.esp.mountedHere && !state.esp.root.empty()) os.volumes.unmountVolume(state.esp.root);
  state.esp = core::EspState();
}

void releaseUnusedEspLetter(platform::Platform& os, core::AppState& state) {
  if (state.esp.used) return;
  releaseEspLetter(os, state);
}

}  // namespace prep
