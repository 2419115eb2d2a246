// The main window: what to do, with which image, on which partition.
#pragma once

#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "app/startup.h"
#include "disks/cell_colours.h"
#include "onekey/main_controls.h"
#include "onekey/services.h"
#include "platform/ui.h"

namespace app {

inline constexpr int kSimpleWidth = 476;
inline constexpr int kAdvancedWidth = 758;
inline constexpr int kMainHeight = 424;
// modeButton offers the other mode; two blanks between the characters.
inline constexpr char kToAdvancedCaption[] = "高  级(&A)";
inline constexpr char kToSimpleCaption[] = "简  洁(&A)";
inline constexpr char kOptionClosedMessage[] =
    "暂不开放此选项,如有需要请联系作者(邮箱: support@vrelpe.example.org)";

// The four file dialogs of the main window.
extern const ui::FileDialogSpec kRestoreImageDialog;
extern const ui::FileDialogSpec kGhostSaveDialog;
extern const ui::FileDialogSpec kWimSaveDialog;
extern const ui::FileDialogSpec kCheckImageDialog;

class MainWindow : public ui::WindowLogic {
 public:
  explicit MainWindow(core::Context& ctx);

  const ui::WindowSpec& spec() const override;
  std::vector<ui::Handler> handlers() override;
  void onCreated(ui::Window& window) override;
  bool onCloseRequested(ui::Window& window) override;

  // The colours of the partition list's red rows.
  const disks::CellColourRegistry& cellColours() const { return colours_; }
  // The controls the one-key action works with, once the window exists.
  onekey::MainControls& oneKeyControls() { return *c_; }
  onekey::Services& services() { return services_; }

 private:
  // The controls the handlers touch, resolved once when the window is created: the
  // one-key action's, and two of the window's own.
  struct Controls : onekey::MainControls {
    explicit Controls(ui::Window& w);
    ui::Control& statusBar;
    ui::Control& homePageCheck;
  };

  void showImageChoice();
  void showSavePath();
  void browse();
  void toggleMode();
  void optionNotAvailable();

  void oneKeyAction();
  // The lister's words about what it could not read, in the status bar's second
  // pane (which shows its own text again when there are none).
  void showListerSaid();
  // Lists the partitions again, as at start-up, and forgets the chosen one.
  void refreshPartitions();
  void searchImages();
  void pickSearchResult();
  void checkGhostImage();
  // Runs a button's work that may run engines and open windows: device events that
  // come meanwhile are listed once it has ended.
  void whileRunning(const std::function<void()>& run);
  // A device event: the list is refreshed shortly after the last of a burst.
  void devicesChanged();
  void refreshAfterDevices();

  core::Context& ctx_;
  ui::Window* window_ = nullptr;
  std::optional<Controls> c_;
  disks::CellColourRegistry colours_;
  onekey::Services services_;
  std::vector<std::string> listerSaid_;
  static constexpr int kStatusPane = 1;
  std::string statusText_;  // the pane's own text, from the table or the configuration
  int searchHits_ = 0;  // result-list entries that are image paths; the rest are status texts
  int running_ = 0;     // button work under way (whileRunning)
  bool devicesChangedMeanwhile_ = false;  // a device event not yet listed
  bool listing_ = false;                  // refreshPartitions is running the lister
};

// Appends the extension (".GHO", ".WIM") unless the path's last four characters,
// upper-cased, already are it.
std::string withImageExtension(const std::string& path, std::string_view extension);

}  // namespace app
