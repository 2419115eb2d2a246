// In-memory window binding: windows built from the same control tables the Win32
// binding uses, with message boxes, dialogs and modal windows scripted by the test.
// It is stricter than Windows: an operation that does not fit a control's kind, an
// unknown control or timer, firing a stopped timer and a modal window left open by
// its script all throw, so a test cannot pass for code that would do nothing; a
// control touched from another thread than the one that made it ends the test.
#pragma once

#include <deque>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <atomic>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui.h"

namespace fake {

// The one lock of the fake (the Windows test build has no std::mutex).
class SpinLock {
 public:
  void lock() {
    while (flag_.test_and_set(std::memory_order_acquire)) {
    }
  }
  void unlock() { flag_.clear(std::memory_order_release); }

 private:
  std::atomic_flag flag_ = ATOMIC_FLAG_INIT;
};

// Names the calling thread: an object every thread has its own copy of.
const void* currentThread();

class Control : public ui::Control {
 public:
  explicit Control(const ui::ControlSpec& spec);
  ui::ControlSpec spec;
  // Throws unless the control is of one of the kinds; aborts off its thread.
  void require(std::initializer_list<ui::Kind> kinds, const char* operation) const;
  const void* const thread = currentThread();

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
  void appendText(std::string_view text) override;
  bool enabled() const override { return enabled_; }
  void setEnabled(bool on) override { enabled_ = on; }
  bool visible() const override { return visible_; }
  void setVisible(bool on) override { visible_ = on; }
  bool checked() const override;
  void setChecked(bool on) override;
  void focus() override { ++focusCount; }
  int count() const override;
  std::string itemText(int index) const override;
  int addItem(std::string_view text) override;
  void setItemText(int index, std::string_view text) override;
  void deleteItem(int index) override;
  void clearItems() override;
  int selection() const override;
  void setSelection(int index) override;
  int selectByPrefix(std::string_view text) override;
  int caretIndex() const override;
  int rowCount() const override;
  int addRow(std::string_view firstCell, int icon) override;
  void setCell(int row, int column, std::string_view text) override;
  std::string cell(int row, int column) const override;
  void deleteRow(int row) override;
  void deleteAllRows() override;
  int rowIcon(int row) const override;
  void setRowIcon(int row, int icon) override;
  int selectedRow() const override;
  void selectRow(int row) override;
  std::uint32_t textColour() const override;
  std::uint32_t backgroundColour() const override;
  void setCellColours(std::function<std::optional<ui::Colour>(int, int)> source) override;
  void repaint() override { ++repaints; }
  int position() const override;
  void setPosition(int position) override;
};

class WindowSystem;

// A window with a table and nothing else, for code that needs controls of a live window.
class TableWindow : public ui::WindowLogic {
 public:
  explicit TableWindow(ui::WindowSpec spec, std::vector<ui::Handler> handlers = {})
      : spec_(std::move(spec)), handlers_(std::move(handlers)) {}
  const ui::WindowSpec& spec() const override { return spec_; }
  std::vector<ui::Handler> handlers() override { return handlers_; }

 private:
  ui::WindowSpec spec_;
  std::vector<ui::Handler> handlers_;
};

// Who closed a window.
enum class ClosedBy { NotClosed, Program, CaptionButton };

class Window : public ui::Window {
 public:
  Window(WindowSystem& system, ui::WindowLogic& logic, bool modal);
  // The window's logic, which may be gone once the window is closed: a closed window
  // is inspected through its copy of the table and its controls.
  ui::WindowLogic& logic;
  const ui::WindowSpec spec;
  const bool modal;
  std::map<std::string, std::unique_ptr<Control>, std::less<>> controls;
  std::vector<ui::Handler> handlers;
  std::string caption_;
  int width_, height_;
  bool visible_ = true;
  bool acceptsInput = false;  // false while onCreated runs
  ClosedBy closedBy = ClosedBy::NotClosed;
  std::string icon;
  std::vector<bool> timers;  // running, by index in the window's table
  std::vector<std::function<void()>> destroyActions;

  bool closed() const { return closedBy != ClosedBy::NotClosed; }
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
  void startTimer(std::string_view name) override;
  void stopTimer(std::string_view name) override;
  bool timerRunning(std::string_view name) const override;
  void whenDestroyed(std::function<void()> action) override { destroyActions.push_back(std::move(action)); }
  void post(std::function<void()> action) override;
  void close() override { closeAs(ClosedBy::Program); }
  std::uintptr_t native = 0;  // a real window's handle, for Wine tests of calls that need an owner
  std::uintptr_t nativeHandle() const override { return native; }

  // Test actions: what a user does and what the clock does. As in a message loop,
  // what other threads have posted runs first. Each raises its event only through
  // the handler table; acting on a closed window or one that takes no input yet
  // throws. Clicks on disabled or hidden controls do nothing, as on Windows.
  void click(std::string_view name);  // toggles check boxes and radios as Windows does
  void selectItem(std::string_view name, int index);
  void selectRowOf(std::string_view name, int row);
  void type(std::string_view name, std::string_view text);  // replaces an edit box's text
  bool requestClose();  // caption button
  void fireTimer(std::string_view name);  // throws when the timer is not running
  // The system's device broadcast: at any time, during a run too.
  void devicesChanged();

 private:
  friend class WindowSystem;
  void closeAs(ClosedBy who);
  void raise(std::string_view source, ui::Event event);
  void requireInput(std::string_view action) const;
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
  // Runs while the next Yes/No box is up, before it is answered (a timer that fires
  // in the box's loop, a run that ends meanwhile); taken once.
  std::function<void()> whileAsking;
  std::vector<ui::FileDialogSpec> dialogs;
  std::deque<std::optional<std::string>> dialogAnswers;  // nothing = cancel
  std::vector<std::unique_ptr<Window>> windows;          // every window created
  std::vector<Window*> modalStack;                       // open modal windows, innermost last
  int pumps = 0;

  // Queues the script for the next modal window to open: it runs once the window is
  // created and must leave it closed (by a click, a timer, requestClose()). Scripts are
  // taken in the order the windows open, so a script that opens a nested window
  // runs that window's script inside its own.
  void scriptModal(std::function<void(Window&)> script) { modalScripts.push_back(std::move(script)); }
  std::size_t scriptsLeft() const { return modalScripts.size(); }
  void discardScripts() { modalScripts.clear(); }

  int runMain(ui::WindowLogic& logic) override;
  void runModal(ui::WindowLogic& logic, ui::Window* owner) override;
  int messageBox(ui::Window* owner, std::string_view text, std::string_view title, unsigned style) override;
  std::optional<std::string> fileDialog(ui::Window* owner, const ui::FileDialogSpec& spec) override;
  void processPendingMessages() override {
    ++pumps;
    runPosted();
  }
  // Runs, in order, the actions posted to windows that are still open.
  void runPosted();

  // Creates the window from its table and runs its creation handler.
  Window& create(ui::WindowLogic& logic, bool modal = false);

 private:
  friend class Window;
  std::deque<std::function<void(Window&)>> modalScripts;
  SpinLock postedLock;  // the one part other threads touch
  std::vector<std::pair<Window*, std::function<void()>>> posted;
};

}  // namespace fake
