// The main window: what to do, with which image, on which partition.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "app/startup.h"
#include "disks/cell_colours.h"
#include "onekey/one_key.h"
#include "onekey/services.h"
#include "platform/ui.h"

namespace app {

inline constexpr int kSimpleWidth = 476;
inline constexpr int kAdvancedWidth = 758;
inline constexpr int kMainHeight = 424;
// modeButton offers the other mode; two blanks between the characters.
inline constexpr char kToAdvancedCaption[] = "高  级(&A)";
inline constexpr char kToSimpleCaption[] = "简  洁(&A)";
inline constexpr char kMessageTitle[] = "提示";
inline constexpr char kOptionClosedMessage[] =
    "暂不开放此选项,如有需要请联系作者(邮箱: support@vrelpe.example.org)";

// The four file dialogs of the main window.
extern const ui::FileDialogSpec kRestoreImageDialog;
extern const ui::FileDialogSpec kGhostSaveDialog;
extern const ui::FileDialogSpec kWimSaveDialog;
extern const ui::FileDialogSpec kCheckImageDialog;

class MainWindow : public ui::WindowLogic {
 public:
  // wim: the WIM progress windows; without them the WIM operations say they are not available.
  explicit MainWindow(core::Context& ctx, onekey::WimWindows* wim = nullptr)
      : ctx_(ctx), pendingWim_(ctx.ui), services_{ctx.os, ctx.ui, ctx.state, wim ? *wim : pendingWim_} {}

  const ui::WindowSpec& spec() const override;
  std::vector<ui::Handler> handlers() override;
  void onCreated(ui::Window& window) override;
  bool onCloseRequested(ui::Window& window) override;

  // The colours of the partition list's red rows.
  const disks::CellColourRegistry& cellColours() const { return colours_; }

 private:
  // The controls the handlers touch, resolved once when the window is created.
  struct Controls {
    explicit Controls(ui::Window& w);
    ui::Control& restoreRadio;
    ui::Control& ghostBackupRadio;
    ui::Control& imagePathCombo;
    ui::Control& savePathEdit;
    ui::Control& partitionList;
    ui::Control& modeButton;
    ui::Control& statusBar;
    ui::Control& homePageCheck;
    ui::Control& searchResultList;
    ui::Control& depthEdit;
    ui::Control& patternCombo;
    ui::Control& searchButton;
  };

  void showImageChoice();
  void showSavePath();
  void browse();
  void toggleMode();
  void optionNotAvailable();

  void oneKeyAction();
  void searchImages();
  void pickSearchResult();
  void checkGhostImage();

  core::Context& ctx_;
  ui::Window* window_ = nullptr;
  std::optional<Controls> c_;
  std::optional<onekey::MainControls> oneKey_;  // what the one-key action locks and reads
  disks::CellColourRegistry colours_;
  onekey::WimWindowsPending pendingWim_;
  onekey::Services services_;
  int searchHits_ = 0;  // result-list entries that are image paths; the rest are status texts
};

// Appends the extension (".GHO", ".WIM") unless the path's last four characters,
// upper-cased, already are it.
std::string withImageExtension(const std::string& path, std::string_view extension);

}  // namespace app
