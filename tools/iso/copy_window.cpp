#include "tools/iso/copy_window.h"

namespace iso {

toolio::ProgressWindowLayout copyWindowLayout() {
  using toolio::Shows;
  toolio::ProgressWindowLayout w;
  w.className = u"VrelIsoCopyProgress";
  w.title = u"ISO镜像 - 正在复制文件";
  w.width = 440;
  w.height = 170;
  w.controls = {
      {100, Shows::Text, u"ISO镜像无法直接挂载,正在复制其中的GHO和WIM文件,请稍候......", 16, 14, 408, 18},
      {101, Shows::Item, u"正在复制: ", 16, 40, 408, 18},
      {102, Shows::Bar, u"", 16, 66, 408, 22},
      {103, Shows::Amount, u"", 16, 96, 300, 18},
      {104, Shows::StopButton, u"取  消", 334, 128, 90, 28},
  };
  // Asked once: the copy so far is thrown away.
  w.stopQuestion = u"确定要取消复制吗？已复制的文件将被删除。";
  return w;
}

}  // namespace iso
