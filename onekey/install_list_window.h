// The install-file list: the GHO and WIM files found on a mounted ISO, with their
// sizes, from which the user picks the one to install.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/request.h"
#include "onekey/main_controls.h"
#include "onekey/services.h"
#include "platform/ui.h"

namespace onekey {

class InstallListWindow : public ui::WindowLogic {
 public:
  // main: the main window's controls; it hides while an image is installed. iso: the
  // ISO's request, whose target the chosen image goes to. candidates: the GHO and WIM
  // files found on the mounted ISO, in search order.
  InstallListWindow(Services& s, MainControls& main, core::Request iso, std::vector<std::string> candidates)
      : s_(s), main_(main), iso_(std::move(iso)), candidates_(std::move(candidates)) {}

  const ui::WindowSpec& spec() const override;
  std::vector<ui::Handler> handlers() override;
  void onCreated(ui::Window& window) override;

 private:
  void installSelected();
  // Installs the file of a row; fromCreation tells the immediate install of a single row.
  void install(const std::string& path, bool fromCreation);

  Services& s_;
  MainControls& main_;
  core::Request iso_;
  std::vector<std::string> candidates_;
  ui::Window* window_ = nullptr;
  ui::Control* list_ = nullptr;
};

// Candidates above 100 MB (after rounding to two decimals) are listed.
bool listedAsInstallable(std::uint64_t bytes);

}  // namespace onekey
