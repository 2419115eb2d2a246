#include "onekey/volume_risks.h"

#include "core/message_box.h"

namespace onekey {

std::vector<std::string> riskQuestions(const core::Request& request, const core::VolumeRisks& risks) {
  const std::string partition = "分区 " + request.target.targetDisplay;
  const bool restore = request.mode == core::Mode::Restore;
  const bool gho = core::imageKindOf(request.imagePath) == core::ImageKind::Gho;
  std::vector<std::string> questions;
  if (risks.bitLocker) {
    questions.push_back(
        restore ? partition + " 是BitLocker加密卷。\r\n还原会用映像替换整个加密卷,卷中现有的数据将全部丢失。\r\n是否继续？"
                : partition +
                      " 是BitLocker加密卷。\r\n备份只能逐个扇区复制加密的数据:映像与分区一样大,"
                      "且只能原样还原成加密卷,要用原来的密钥才能打开。\r\n是否继续？");
  }
  // A GHO restore replaces the whole file system, hibernation image included; a WIM
  // applied without a format leaves it, and the old Windows resumes over the new files.
  if (risks.hibernated && restore && !gho) {
    questions.push_back(partition +
                        " 上的Windows处于休眠或快速启动状态。\r\n不格式化就在其上应用映像或写入引导文件,"
                        "旧的Windows从休眠恢复时可能使这些改动丢失。\r\n"
                        "建议先启动该Windows并完全关机(关闭快速启动),或在还原时格式化该分区。\r\n是否继续？");
  }
  // Only the GHO engine's used-block image relies on the allocation bitmap.
  if (risks.dirty && request.mode == core::Mode::GhostBackup) {
    questions.push_back(partition +
                        " 的NTFS文件系统被标记为需要检查。\r\n它的空间位图可能与文件不符,"
                        "只备份已用块的映像可能漏掉数据。\r\n建议先对该分区运行 chkdsk /f 再备份。\r\n是否继续？");
  }
  return questions;
}

bool confirmVolumeRisks(Services& s, ui::Window& owner, const core::Request& request) {
  for (const std::string& question : riskQuestions(request, request.target.risks))
    if (core::showBox(s.ui, &owner, question, kRiskQuestionBox) != ui::kAnswerYes) return false;
  return true;
}

}  // namespace onekey
