// The main window: what to do, with which image, on which partition.
#pragma once

#include <string_view>

#include "app/startup.h"
#include "disks/cell_colours.h"
#include "ghost/services.h"
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
  explicit MainWindow(core::Context& ctx, ghost::WimWindows* wim = nullptr)
      : ctx_(ctx), pendingWim_(ctx.ui), services_{ctx.os, ctx.ui, ctx.state, wim ? *wim : pendingWim_} {}

  const ui::WindowSpec& spec() const override;
  void onCreated(ui::Window& window) override;
  void onEvent(ui::Window& window, std::string_view control, ui::Event event) override;
  bool onCloseRequested(ui::Window& window) override;

  // The colours of the partition list's red rows.
  const disks::CellColourRegistry& cellColours() const { return colours_; }

 private:
  void showImageChoice(ui::Window& window);
  void showSavePath(ui::Window& window);
  void browse(ui::Window& window);
  void toggleMode(ui::Window& window);
  void optionNotAvailable(ui::Window& window);

  void oneKeyAction(ui::Window& window);
  void searchImages(ui::Window& window);
  void pickSearchResult(ui::Window& window);
  void checkGhostImage(ui::Window& window);

  core::Context& ctx_;
  disks::CellColourRegistry colours_;
  ghost::WimWindowsPending pendingWim_;
  ghost::Services services_;
  int searchHits_ = 0;  // result-list entries that are image paths; the rest are status texts
};

// Appends the extension (".GHO", ".WIM") unless the path's last four characters,
// upper-cased, already are it.
std::string withImageExtension(const std::string& path, std::string_view extension);

}  // namespace app
