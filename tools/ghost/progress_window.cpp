#include "tools/ghost/progress_window.h"

#include "tools/common/utf.h"

namespace ghost {

namespace {

using toolio::Shows;

// The ids are the window's contract with the tests that read it from outside.
enum ControlId { kAction = 100, kFrom, kTo, kBar, kPercent, kSpeed, kElapsed, kRemaining, kStop };

std::u16string partitionText(const std::string& designator) {
  std::size_t colon = designator.find(':');
  return u"磁盘 " + toolio::utf8ToUtf16(designator.substr(0, colon)) + u" 分区 " +
         toolio::utf8ToUtf16(designator.substr(colon + 1));
}

}  // namespace

toolio::ProgressWindowLayout progressWindowFor(const Command& command) {
  std::u16string action, from, to;
  toolio::ProgressWindowLayout w;
  const std::u16string image = u"映像文件: " + toolio::utf8ToUtf16(command.imagePath);
  switch (command.mode) {
    case Mode::Restore:
      w.title = u"GhostVrelLite - 还原分区";
      action = u"正在把映像还原到分区,请稍候…";
      from = image;
      to = u"目标分区: " + partitionText(command.partition);
      w.stopQuestion = u"确定要停止还原吗?\r\n停止后目标分区中的数据将不完整,不能使用。";
      break;
    case Mode::Backup:
      w.title = u"GhostVrelLite - 备份分区";
      action = u"正在把分区备份为映像文件,请稍候…";
      from = u"源分区: " + partitionText(command.partition);
      to = image;
      w.stopQuestion = u"确定要停止备份吗?\r\n停止后不会留下映像文件。";
      break;
    case Mode::Check:
      w.title = u"GhostVrelLite - 检查映像";
      action = u"正在检查映像文件的完整性,请稍候…";
      from = image;
      w.stopQuestion = u"确定要停止检查吗?";
      break;
  }
  w.className = u"GhostVrelLiteProgress";
  w.width = 472;
  w.height = 214;
  w.minimizeBox = true;
  w.stoppingCaption = u"正在停止…";
  w.controls = {
      {kAction, Shows::Text, action, 16, 14, 440, 18},
      {kFrom, Shows::Path, from, 16, 40, 440, 18},
      {kTo, Shows::Path, to, 16, 62, 440, 18},
      {kBar, Shows::Bar, u"", 16, 90, 440, 20},
      {kPercent, Shows::Percent, u"已完成: ", 16, 120, 210, 18},
      {kSpeed, Shows::Speed, u"速度: ", 240, 120, 216, 18},
      {kElapsed, Shows::Elapsed, u"已用时间: ", 16, 142, 210, 18},
      {kRemaining, Shows::Remaining, u"剩余时间: ", 240, 142, 216, 18},
      {kStop, Shows::StopButton, u"停止(&S)", 356, 172, 100, 28},
  };
  return w;
}

}  // namespace ghost
