// Windows and controls as the logic sees them.
//
// How to build a window (app/main_window.{h,cpp} is the worked example):
//  1. Control table: a WindowSpec at the top of the .cpp, as data. Timers are named
//     rows of its `timers`; they stay stopped until started by name.
//  2. Typed controls: a struct of ui::Control& in the class, one member per control
//     the code touches, resolved once in onCreated (controls_.emplace(window)).
//     Window::control() fails loudly on an unknown name in both bindings, so a
//     typo shows the first time the window opens (every window is opened in a test).
//  3. Handler table: handlers() returns {source, event, action} rows next to the
//     control table; the binding checks every source exists when the window is
//     created and routes events through the table. Timers arrive as Event::Timer
//     with the timer's name as source. Events nobody handles are dropped.
//  4. Code outside the window gets the Control& it needs (fillPartitionList(list)),
//     never the Window plus a name.
//  5. Tests: fake::WindowSystem (tests/fakes/fake_ui.h) builds the window from the same
//     table; click(), selectItem(), selectRowOf(), type(), fireTimer() act as the user
//     and the clock; modal windows run scripts queued with scriptModal().
//
// Events are raised by the user (and the fake's test actions, which stand for the
// user) and by running timers, never by the program's own calls: setText,
// setSelection, selectRow, setChecked, addItem and the rest change state silently in
// both bindings. A window's events start once onCreated has returned; while it runs,
// the window takes no input (it is visible but disabled).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ui {

enum class Kind {
  Button,
  RadioButton,
  CheckBox,
  GroupBox,
  Label,
  Edit,           // single-line text box
  MultiLineEdit,  // multi-line text box
  ComboBox,       // drop-down combo box with an edit field
  DropDownList,   // drop-down list, no edit field
  ListBox,
  ListView,  // report style
  ProgressBar,
  StatusBar,
  Picture,
};

enum Flags : unsigned {
  kNone = 0,
  kHidden = 1u << 0,
  kChecked = 1u << 1,
  kDisabled = 1u << 2,
  kFirstInGroup = 1u << 3,  // starts a new radio-button group
  kRowIcons = 1u << 4,      // list view with the four partition icons (Windows, fixed, removable, other)
};

struct Column {
  std::string text;
  int width = 0;
  bool alignRight = false;
};

struct ControlSpec {
  std::string name;  // the control's role name; the handlers address controls by it
  Kind kind;
  std::string caption;
  int x = 0, y = 0, w = 0, h = 0;  // relative to parent's client area (or group box)
  unsigned flags = kNone;
  std::string parent;               // group box name; empty = the window
  std::vector<std::string> items;   // initial items (combo, list box) or status panes
  std::vector<Column> columns;      // list view columns
  std::vector<int> paneWidths;      // status bar pane right edges (-1 = to the end)
  int initialSelection = -1;
};

// A timer of a window: stopped until started by name, then raising Event::Timer
// every interval until stopped.
struct TimerSpec {
  std::string name;
  unsigned intervalMs = 0;
};

struct WindowSpec {
  std::string caption;
  int x = 0, y = 0, w = 0, h = 0;  // outer size and position
  bool centred = false;
  std::vector<ControlSpec> controls;
  std::vector<TimerSpec> timers;
};

struct Colour {
  std::uint32_t text = 0;        // Windows COLORREF
  std::uint32_t background = 0;  // Windows COLORREF
};

// One control of a bound window. Operations that do not fit its kind are ignored by
// the Win32 binding and rejected (std::logic_error) by the fake, so a test cannot
// pass for code that does nothing on Windows.
class Control {
 public:
  virtual ~Control() = default;
  virtual std::string text() const = 0;
  virtual void setText(std::string_view text) = 0;
  // Moves the caret to the end and inserts the text there (edit boxes).
  virtual void appendText(std::string_view text) = 0;
  virtual bool enabled() const = 0;
  virtual void setEnabled(bool on) = 0;
  virtual bool visible() const = 0;
  virtual void setVisible(bool on) = 0;
  virtual bool checked() const = 0;
  virtual void setChecked(bool on) = 0;
  virtual void focus() = 0;

  // Combo boxes, list boxes, status-bar panes.
  virtual int count() const = 0;
  virtual std::string itemText(int index) const = 0;
  virtual int addItem(std::string_view text) = 0;
  virtual void setItemText(int index, std::string_view text) = 0;
  virtual void deleteItem(int index) = 0;
  virtual void clearItems() = 0;
  virtual int selection() const = 0;  // -1 when none
  virtual void setSelection(int index) = 0;
  // Selects the first item that begins with the text, letter case ignored, as the
  // control's own select-by-text does; returns its index or -1 (selection unchanged).
  virtual int selectByPrefix(std::string_view text) = 0;
  // Index of the item with the keyboard caret (list boxes), -1 when none.
  virtual int caretIndex() const = 0;

  // Report-style list views.
  virtual int rowCount() const = 0;
  virtual int addRow(std::string_view firstCell, int icon) = 0;
  virtual void setCell(int row, int column, std::string_view text) = 0;
  virtual std::string cell(int row, int column) const = 0;
  virtual void deleteRow(int row) = 0;
  virtual void deleteAllRows() = 0;
  virtual int rowIcon(int row) const = 0;
  virtual void setRowIcon(int row, int icon) = 0;
  virtual int selectedRow() const = 0;  // -1 when none
  virtual void selectRow(int row) = 0;
  virtual std::uint32_t textColour() const = 0;        // the list's own colours
  virtual std::uint32_t backgroundColour() const = 0;
  // Asked for every cell while the list draws; nothing = default drawing.
  virtual void setCellColours(std::function<std::optional<Colour>(int row, int column)> source) = 0;
  // Hides and shows the control again, which repaints it.
  virtual void repaint() = 0;

  // Progress bars.
  virtual int position() const = 0;
  virtual void setPosition(int position) = 0;
};

enum class Event {
  Click,             // buttons, radio buttons, check boxes (after the check has changed)
  SelectionChanged,  // combo boxes, drop-down lists, list boxes
  RowSelected,       // list views: a row became selected
  TextChanged,       // edit boxes and the edit field of combo boxes
  Timer,             // a running timer of the window's table
  // The window itself (its handler's source is empty): a device or a medium arrived
  // or went away (WM_DEVICECHANGE: arrival, removal complete, device nodes changed).
  // The system waits for the handler: it must return at once, never list disks.
  DevicesChanged,
};

// A programming error in a window's tables: the fake throws it, the Win32 binding
// reports it in a message box and ends the program.
class TableError : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

class Window {
 public:
  virtual ~Window() = default;
  // The control of that name; an unknown name is a TableError.
  virtual Control& control(std::string_view name) = 0;
  virtual std::string caption() const = 0;
  virtual void setCaption(std::string_view caption) = 0;
  virtual int width() const = 0;
  virtual int height() const = 0;
  virtual void setSize(int width, int height) = 0;
  virtual bool visible() const = 0;
  virtual void setVisible(bool on) = 0;
  // Sets the window's icon from the bytes of an .ICO file; false when not an icon.
  virtual bool setIconFromBytes(std::string_view icoBytes) = 0;
  // Timers of the window's table, by name; an unknown name is a TableError.
  // Starting a running timer restarts its interval.
  virtual void startTimer(std::string_view name) = 0;
  virtual void stopTimer(std::string_view name) = 0;
  virtual bool timerRunning(std::string_view name) const = 0;
  // Runs the action when the window goes away (closed by the program or the user),
  // before its controls do: whoever writes into a control from outside stops here.
  virtual void whenDestroyed(std::function<void()> action) = 0;
  // The one call another thread may make: queues the action to run on the window's
  // own thread from its message loop, after the messages already waiting. Actions
  // still queued when the window goes away are dropped.
  virtual void post(std::function<void()> action) = 0;
  virtual void close() = 0;
  // The native handle, for platform calls that need an owner (0 in tests).
  virtual std::uintptr_t nativeHandle() const = 0;
};

// One row of a window's handler table.
struct Handler {
  std::string source;  // control name, or timer name for Event::Timer
  Event event;
  std::function<void()> run;
};

class WindowLogic {
 public:
  virtual ~WindowLogic() = default;
  virtual const WindowSpec& spec() const = 0;
  // Runs once the controls exist, before any event: resolve the typed controls here.
  virtual void onCreated(Window&) {}
  // The handler table, asked for once when the window is created.
  virtual std::vector<Handler> handlers() { return {}; }
  // Returns false to refuse the close (caption button, Alt+F4).
  virtual bool onCloseRequested(Window&) { return true; }
};

// Both bindings: every source of the handler table names a control or timer of the
// window's table, or a TableError says which does not.
void checkHandlers(const WindowSpec& spec, const std::vector<Handler>& handlers);
// The handler for the event, or nullptr.
const Handler* findHandler(const std::vector<Handler>& handlers, std::string_view source, Event event);
// The index of the named timer in the window's table, or a TableError.
std::size_t timerIndex(const WindowSpec& spec, std::string_view name);

// Message-box styles and answers, with the platform's values.
enum MessageBoxStyle : unsigned {
  kOk = 0x0,
  kYesNo = 0x4,
  kIconStop = 0x10,
  kIconQuestion = 0x20,
  kIconExclamation = 0x30,
  kIconInformation = 0x40,
  kTaskModal = 0x2000,
};
enum MessageBoxAnswer : int { kAnswerOk = 1, kAnswerYes = 6, kAnswerNo = 7 };

struct FileDialogSpec {
  bool save = false;
  std::string title;
  std::string initialName;
  std::string filter;  // "description|pattern", as the tables give it
};

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;
  // Creates the main window and runs the message loop until the program ends.
  virtual int runMain(WindowLogic& logic) = 0;
  // Creates the window modally over the owner and returns when it has closed.
  virtual void runModal(WindowLogic& logic, Window* owner) = 0;
  virtual int messageBox(Window* owner, std::string_view text, std::string_view title,
                         unsigned style) = 0;
  // The chosen path, or nothing when the user cancels.
  virtual std::optional<std::string> fileDialog(Window* owner, const FileDialogSpec& spec) = 0;
  // Processes the pending window messages once.
  virtual void processPendingMessages() = 0;
};

}  // namespace ui
