// In-memory window binding: windows built from the same control tables the Win32
// binding uses, with message boxes, dialogs and modal windows scripted by the test.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace fake {

class Control : public ui::Control {
 public:
  explicit Control(const ui::ControlSpec& spec);
  ui::ControlSpec spec;

  std::string text_;
  bool enabled_ = true, visible_ = true, checked_ = false;
  std::vector<std::string> items;
  int selection_ = -1;
  int caret = -1;
  struct Row {
    std::vector<std::string> cells;
    int icon = 0;
  };
  std::vector<Row> rows;
  int selectedRow_ = -1;
  std::uint32_t textColour_ = 0x000000, backgroundColour_ = 0xFFFFFF;
  std::function<std::optional<ui::Colour>(int, int)> colours;
  int repaints = 0;
  int position_ = 0;
  int focusCount = 0;

  std::string text() const override;
  void setText(std::string_view text) override;
  void appendText(std::string_view text) override { text_.append(text); }
  bool enabled() const override { return enabled_; }
  void setEnabled(bool on) override { enabled_ = on; }
  bool visible() const override { return visible_; }
  void setVisible(bool on) override { visible_ = on; }
  bool checked() const override { return checked_; }
  void setChecked(bool on) override { checked_ = on; }
  void focus() override { ++focusCount; }
  int count() const override { return static_cast<int>(items.size()); }
  std::string itemText(int index) const override;
  int addItem(std::string_view text) override;
  void setItemText(int index, std::string_view text) override;
  void deleteItem(int index) override;
  void clearItems() override;
  int selection() const override { return selection_; }
  void setSelection(int index) override;
  int selectByPrefix(std::string_view text) override;
  int caretIndex() const override { return caret; }
  int rowCount() const override { return static_cast<int>(rows.size()); }
  int addRow(std::string_view firstCell, int icon) override;
  void setCell(int row, int column, std::string_view text) override;
  std::string cell(int row, int column) const override;
  void deleteRow(int row) override;
  void deleteAllRows() override;
  int rowIcon(int row) const override;
  void setRowIcon(int row, int icon) override;
  int selectedRow() const override { return selectedRow_; }
  void selectRow(int row) override { selectedRow_ = row; }
  std::uint32_t textColour() const override { return textColour_; }
  std::uint32_t backgroundColour() const override { return backgroundColour_; }
  void setCellColours(std::function<std::optional<ui::Colour>(int, int)> source) override {
    colours = std::move(source);
  }
  void repaint() override { ++repaints; }
  int position() const override { return position_; }
  void setPosition(int position) override { position_ = position; }
};

class WindowSystem;

class Window : public ui::Window {
 public:
  Window(WindowSystem& system, ui::WindowLogic& logic);
  ui::WindowLogic& logic;
  std::map<std::string, std::unique_ptr<Control>, std::less<>> controls;
  std::string caption_;
  int width_, height_;
  bool visible_ = true, closed = false;
  std::string icon;
  std::map<int, unsigned> timers;  // id → interval (absent or 0 = stopped)

  Control& get(std::string_view name);  // the fake itself, for inspecting state
  ui::Control& control(std::string_view name) override { return get(name); }
  std::string caption() const override { return caption_; }
  void setCaption(std::string_view caption) override { caption_ = caption; }
  int width() const override { return width_; }
  int height() const override { return height_; }
  void setSize(int w, int h) override { width_ = w; height_ = h; }
  bool visible() const override { return visible_; }
  void setVisible(bool on) override { visible_ = on; }
  bool setIconFromBytes(std::string_view bytes) override;
  void setTimer(int id, unsigned intervalMs) override { timers[id] = intervalMs; }
  void close() override;
  std::uintptr_t nativeHandle() const override { return 0; }

  // Test actions: what a user does.
  void click(std::string_view name);  // toggles check boxes and radios as Windows does
  void selectItem(std::string_view name, int index);
  void selectRowOf(std::string_view name, int row);
  bool requestClose();  // caption button
  void fireTimer(int id) { logic.onTimer(*this, id); }

 private:
  WindowSystem& system_;
};

struct Box {
  std::string text, title;
  unsigned style;
};

class WindowSystem : public ui::WindowSystem {
 public:
  std::vector<Box> boxes;
  std::deque<int> answers;  // answers to Yes/No boxes; Yes when empty
  std::vector<ui::FileDialogSpec> dialogs;
  std::deque<std::optional<std::string>> dialogAnswers;  // nothing = cancel
  std::vector<std::unique_ptr<Window>> windows;          // every window created
  // Runs while a modal window is up; the test clicks its buttons here.
  std::function<void(Window&)> onModal;
  int pumps = 0;

  int runMain(ui::WindowLogic& logic) override;
  void runModal(ui::WindowLogic& logic, ui::Window* owner) override;
  int messageBox(ui::Window* owner, std::string_view text, std::string_view title, unsigned style) override;
  std::optional<std::string> fileDialog(ui::Window* owner, const ui::FileDialogSpec& spec) override;
  void processPendingMessages() override { ++pumps; }

  // Creates the window from its table and runs its creation handler.
  Window& create(ui::WindowLogic& logic);
};

}  // namespace fake
