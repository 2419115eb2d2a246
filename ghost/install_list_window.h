// The install-file list: the GHO and WIM files found on a mounted ISO, with their
// sizes, from which the user picks the one to install.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ghost/services.h"
#include "platform/ui.h"

namespace ghost {

class InstallListWindow : public ui::WindowLogic {
 public:
  InstallListWindow(Services& s, ui::Window& mainWindow) : s_(s), main_(mainWindow) {}

  const ui::WindowSpec& spec() const override;
  std::vector<ui::Handler> handlers() override;
  void onCreated(ui::Window& window) override;

 private:
  void installListCreated(ui::Window& window);
  void installSelected(ui::Window& window);
  // Installs the file of a row; fromCreation tells the immediate install of a single row.
  void install(ui::Window& window, const std::string& path, bool fromCreation);

  Services& s_;
  ui::Window& main_;
  ui::Window* window_ = nullptr;
};

// Candidates above 100 MB (after rounding to two decimals) are listed.
bool listedAsInstallable(std::uint64_t bytes);

}  // namespace ghost
