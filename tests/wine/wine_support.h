// Helpers for the Wine tier: paths beside the test program, waiting while serving
// window messages, and saving pictures of windows.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace winetest {

// Folder of the running test program, with a trailing backslash.
std::string programFolder();
std::string readWholeFile(const std::string& path);
// Serves window messages until done() or the timeout; returns done().
bool pumpUntil(const std::function<bool()>& done, unsigned timeoutMs);
// Saves what the window shows (frame included) as a 24-bit BMP.
bool saveWindowPicture(HWND hwnd, const std::string& path);
// Counts pixels of a client rectangle of hwnd whose colour is close to pure red.
int redPixels(HWND hwnd, const RECT& area);
// Where pictures go: $VREL_ARTIFACTS (a Windows path) or the program folder.
std::string artifactFolder();

// A window of the program run inside the real modal loop with a test body: the
// window's creation handler runs, then the body; the window is closed after it
// unless it is gone already. Events and close requests go to the window's logic.
class Harness : public ui::WindowLogic {
 public:
  Harness(ui::WindowLogic& inner, std::function<void(ui::Window&)> body) : inner_(inner), body_(std::move(body)) {}
  const ui::WindowSpec& spec() const override { return inner_.spec(); }
  std::vector<ui::Handler> handlers() override { return inner_.handlers(); }
  void onCreated(ui::Window& w) override {
    inner_.onCreated(w);
    body_(w);
    w.close();
  }
  bool onCloseRequested(ui::Window& w) override { return inner_.onCloseRequested(w); }

 private:
  ui::WindowLogic& inner_;
  std::function<void(ui::Window&)> body_;
};

}  // namespace winetest
