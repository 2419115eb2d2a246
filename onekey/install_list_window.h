// The install-file list: the GHO and WIM files found on a mounted ISO, with their
// sizes, from which the user picks the one to install.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "onekey/one_key.h"
#include "onekey/services.h"
#include "platform/ui.h"

namespace onekey {

class InstallListWindow : public ui::WindowLogic {
 public:
  // main: the main window's controls; it hides while an image is installed.
  InstallListWindow(Services& s, MainControls& main) : s_(s), main_(main) {}

  const ui::WindowSpec& spec() const override;
  std::vector<ui::Handler> handlers() override;
  void onCreated(ui::Window& window) override;

 private:
  void installSelected();
  // Installs the file of a row; fromCreation tells the immediate install of a single row.
  void install(const std::string& path, bool fromCreation);

  Services& s_;
  MainControls& main_;
  ui::Window* window_ = nullptr;
  ui::Control* list_ = nullptr;
};

// Candidates above 100 MB (after rounding to two decimals) are listed.
bool listedAsInstallable(std::uint64_t bytes);

}  // namespace onekey
