#include "onekey/install_list_window.h"

#include "core/image_sets.h"
#include "core/message_box.h"
#include "core/path_and_size.h"
#include "onekey/ghost_runs.h"
#include "onekey/one_key.h"
#include "wim/restore_window.h"

namespace onekey {

namespace {

using ui::Kind;

const ui::WindowSpec kInstallListWindow{
    "安装文件列表", 50, 50, 373, 266, false,
    {
        {"installGroup", Kind::GroupBox, "请选择安装文件:", 8, 8, 352, 176},
        {"installFileList", Kind::ListView, "", 8, 24, 336, 144, ui::kNone, "installGroup", {},
         {{"文件名", 240}, {"大小", 80, true}}},
        {"installOkButton", Kind::Button, "确  定(&Y)", 160, 192, 96, 32},
        {"installExitButton", Kind::Button, "退  出(&X)", 264, 192, 96, 32},
    }};

}  // namespace

bool listedAsInstallable(std::uint64_t bytes) { return core::sizeInMegabytes(bytes) - 100.0 > 0.0000001; }

const ui::WindowSpec& InstallListWindow::spec() const { return kInstallListWindow; }

std::vector<ui::Handler> InstallListWindow::handlers() {
  return {{"installOkButton", ui::Event::Click, [this] { installSelected(); }},
          {"installExitButton", ui::Event::Click, [this] { window_->close(); }}};
}

void InstallListWindow::onCreated(ui::Window& window) {
  window_ = &window;
  list_ = &window.control("installFileList");
  if (candidates_.empty()) {
    core::showBox(s_.ui, &window, "未搜索到可安装的文件。", core::kErrorBox);
    window.close();
    return;
  }
  for (const std::string& candidate : candidates_) {
    const std::uint64_t bytes = core::imageSetSize(s_.os.files, candidate);
    if (!listedAsInstallable(bytes)) continue;
    const int row = list_->addRow(candidate, 0);
    list_->setCell(row, 1, core::sizeInMegabytesText(bytes) + " MB");
  }
  if (list_->rowCount() == 1) install(list_->cell(0, 0), true);
}

void InstallListWindow::installSelected() {
  const int row = list_->selectedRow();
  if (row < 0) {
    core::showBox(s_.ui, window_, "请选择要安装的文件。", core::kWarningBox);
    return;
  }
  install(list_->cell(row, 0), false);
}

void InstallListWindow::install(const std::string& path, bool fromCreation) {
  ui::Window& window = *window_;
  ui::Window& main = main_.window;
  const core::ImageKind kind = core::imageKindOf(path);
  if (kind == core::ImageKind::Gho || kind == core::ImageKind::Wim) {
    core::Request request = iso_;
    request.imagePath = path;
    const core::Facts facts = oneKeyFacts(s_, main_, request);
    if (const auto refusal = core::firstRefusal(request, facts, core::Checkpoint::OneKeyAction)) {
      // The list stays for another choice or the exit button.
      core::showBox(s_.ui, &window, refusal->text, refusal->style);
      return;
    }
    if (kind == core::ImageKind::Gho) {
      // After a run the hidden list has done its work: closing it gives the user the
      // main window back instead of an invisible modal window.
      if (ghostRestore(s_, main, request, &window)) window.close();
      return;
    }
    window.setVisible(false);
    main.setVisible(false);
    wim::restoreProgressWindow(s_, &main, main_.partitionList, request, s_.afterApply);
    main.setVisible(true);
    window.close();
    return;
  }
  core::showBox(s_.ui, &window,
                fromCreation ? std::string("不支持的ISO光盘镜像。")
                             : "不支持 " + core::fileNameOf(path) + " 映像安装到 " + iso_.target.targetDisplay + "。",
                core::kWarningBox);
  window.close();
}

}  // namespace onekey
