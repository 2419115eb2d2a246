// The ISO tool's own window for long copies. The program that started the tool has
// its controls locked and waits; this window says what is happening and lets the
// user cancel. The copy runs on the calling thread, which serves the window's
// messages between chunks.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace iso {

class CopyProgressWindow {
 public:
  CopyProgressWindow();
  ~CopyProgressWindow();
  CopyProgressWindow(const CopyProgressWindow&) = delete;
  CopyProgressWindow& operator=(const CopyProgressWindow&) = delete;

  bool open();
  // Updates the texts and the bar, serves pending messages; false once the user cancelled.
  bool update(std::uint64_t doneBytes, std::uint64_t totalBytes, const std::string& currentFileUtf8);
  HWND handle() const { return window_; }

 private:
  static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  HWND window_ = nullptr;
  HWND fileLabel_ = nullptr;
  HWND bar_ = nullptr;
  HWND amountLabel_ = nullptr;
  HFONT font_ = nullptr;
  bool cancelled_ = false;
  int lastPermille_ = -1;
};

}  // namespace iso
