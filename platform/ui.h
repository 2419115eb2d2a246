// Windows and controls as the logic sees them.
//
// A window is a WindowLogic: it owns its control table (WindowSpec) as data and
// handles events. A binding (Win32, or the in-memory one of the tests) creates the
// controls from the same table and calls the handlers, which work on Control&.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
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

struct WindowSpec {
  std::string caption;
  int x = 0, y = 0, w = 0, h = 0;  // outer size and position
  bool centred = false;
  std::vector<ControlSpec> controls;
};

struct Colour {
  std::uint32_t text = 0;        // Windows COLORREF
  std::uint32_t background = 0;  // Windows COLORREF
};

// One control of a bound window. Operations that do not fit a kind are ignored.
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

enum class Event { Click, SelectionChanged, RowSelected, TextChanged };

class Window {
 public:
  virtual ~Window() = default;
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
  // Arms a timer with the interval, or stops it with 0.
  virtual void setTimer(int id, unsigned intervalMs) = 0;
  virtual void close() = 0;
  // The native handle, for platform calls that need an owner (0 in tests).
  virtual std::uintptr_t nativeHandle() const = 0;
};

class WindowLogic {
 public:
  virtual ~WindowLogic() = default;
  virtual const WindowSpec& spec() const = 0;
  virtual void onCreated(Window&) {}
  virtual void onEvent(Window&, std::string_view /*control*/, Event) {}
  virtual void onTimer(Window&, int /*id*/) {}
  // Returns false to refuse the close (caption button, Alt+F4).
  virtual bool onCloseRequested(Window&) { return true; }
};

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
