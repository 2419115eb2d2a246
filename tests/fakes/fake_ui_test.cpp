// The window fake is what every window test stands on: it must refuse what Windows
// would silently ignore, and keep the rules the Win32 binding keeps.
#include "tests/fakes/fake_ui.h"

#include <gtest/gtest.h>

namespace {

using ui::Event;
using ui::Kind;

ui::WindowSpec table() {
  return {"fake",
          0,
          0,
          200,
          100,
          false,
          {{"button", Kind::Button, "OK"},
           {"label", Kind::Label, "text"},
           {"edit", Kind::Edit},
           {"list", Kind::ListBox},
           {"rows", Kind::ListView},
           {"bar", Kind::ProgressBar},
           {"drop", Kind::DropDownList, "", 0, 0, 0, 0, ui::kNone, "", {"a", "b"}}},
          {{"tick", 50}, {"clock", 1000}}};
}

TEST(FakeControls, OperationsThatDoNotFitTheKindThrow) {
  fake::WindowSystem ui;
  fake::TableWindow logic(table());
  fake::Window& w = ui.create(logic);
  const std::pair<const char*, std::function<void()>> misfits[] = {
      {"checked on a button", [&] { w.get("button").checked(); }},
      {"appendText on a label", [&] { w.get("label").appendText("x"); }},
      {"addItem on an edit box", [&] { w.get("edit").addItem("x"); }},
      {"addRow on a list box", [&] { w.get("list").addRow("x", 0); }},
      {"setPosition on a label", [&] { w.get("label").setPosition(3); }},
      {"setText on a drop-down list", [&] { w.get("drop").setText("c"); }},
      {"selection on a list view", [&] { w.get("rows").selection(); }},
      {"caretIndex on a drop-down list", [&] { w.get("drop").caretIndex(); }},
  };
  for (const auto& [what, call] : misfits) EXPECT_THROW(call(), std::logic_error) << what;
  // The fitting ones work.
  w.get("edit").appendText("x");
  w.get("list").addItem("x");
  w.get("rows").addRow("x", 0);
  w.get("bar").setPosition(3);
  EXPECT_EQ(w.get("bar").position(), 3);
  EXPECT_EQ(w.get("drop").text(), "");
}

TEST(FakeControls, UnknownNamesAndTableFaultsFailLoudly) {
  fake::WindowSystem ui;
  fake::TableWindow logic(table());
  fake::Window& w = ui.create(logic);
  EXPECT_THROW(w.control("buton"), ui::TableError);
  EXPECT_THROW(w.startTimer("tock"), ui::TableError);

  fake::TableWindow badHandler(table(), {{"buton", Event::Click, [] {}}});
  EXPECT_THROW(ui.create(badHandler), ui::TableError);
  fake::TableWindow timerAsControl(table(), {{"tick", Event::Click, [] {}}});
  EXPECT_THROW(ui.create(timerAsControl), ui::TableError);
  // A window event has no source: naming a control is a fault of the table.
  fake::TableWindow deviceEventOfAControl(table(), {{"button", Event::DevicesChanged, [] {}}});
  EXPECT_THROW(ui.create(deviceEventOfAControl), ui::TableError);
  int devices = 0;
  fake::TableWindow deviceEvent(table(), {{"", Event::DevicesChanged, [&] { ++devices; }}});
  fake::Window& listening = ui.create(deviceEvent);
  listening.devicesChanged();
  EXPECT_EQ(devices, 1);
  ui::WindowSpec twice = table();
  twice.controls.push_back({"edit", Kind::Label});
  fake::TableWindow duplicate(twice);
  EXPECT_THROW(ui.create(duplicate), ui::TableError);
}

TEST(FakeEvents, OnlyUserActionsAndRunningTimersRaiseEvents) {
  fake::WindowSystem ui;
  std::vector<std::string> seen;
  auto note = [&](const char* what) { return [&seen, what] { seen.push_back(what); }; };
  fake::TableWindow logic(table(), {{"button", Event::Click, note("click")},
                                    {"rows", Event::RowSelected, note("row")},
                                    {"edit", Event::TextChanged, note("typed")},
                                    {"drop", Event::SelectionChanged, note("picked")},
                                    {"tick", Event::Timer, note("tick")}});
  fake::Window& w = ui.create(logic);
  // The program's own calls raise nothing.
  w.get("rows").addRow("r", 0);
  w.get("rows").selectRow(0);
  w.get("edit").setText("abc");
  w.get("drop").setSelection(1);
  EXPECT_TRUE(seen.empty());

  w.click("button");
  w.selectRowOf("rows", 0);
  w.type("edit", "typed");
  w.selectItem("drop", 0);
  EXPECT_THROW(w.fireTimer("tick"), std::logic_error) << "a stopped timer never fires";
  w.startTimer("tick");
  w.fireTimer("tick");
  w.stopTimer("tick");
  EXPECT_THROW(w.fireTimer("tick"), std::logic_error);
  EXPECT_EQ(seen, (std::vector<std::string>{"click", "row", "typed", "picked", "tick"}));

  w.get("button").setEnabled(false);
  w.click("button");
  EXPECT_EQ(seen.size(), 5u) << "a disabled button takes no click";
}

// A modal window that opens another one from a button, as the install list opens the
// restore window which opens the format dialog.
class Nesting : public ui::WindowLogic {
 public:
  Nesting(fake::WindowSystem& ui, ui::WindowLogic* inner) : ui_(ui), inner_(inner) {}
  const ui::WindowSpec& spec() const override { return spec_; }
  std::vector<ui::Handler> handlers() override {
    return {{"open", Event::Click, [this] { ui_.runModal(*inner_, window_); }},
            {"done", Event::Click, [this] { window_->close(); }}};
  }
  void onCreated(ui::Window& w) override { window_ = &w; }

 private:
  fake::WindowSystem& ui_;
  ui::WindowLogic* inner_;
  ui::Window* window_ = nullptr;
  ui::WindowSpec spec_{"nest", 0, 0, 10, 10, false, {{"open", Kind::Button}, {"done", Kind::Button}}};
};

TEST(FakeModal, NestedWindowsRunTheirOwnScriptsAndSayWhoClosedThem) {
  fake::WindowSystem ui;
  Nesting innermost(ui, nullptr), middle(ui, &innermost), outer(ui, &middle);
  std::vector<std::size_t> depths;
  ui.scriptModal([&](fake::Window& w) {
    depths.push_back(ui.modalStack.size());
    w.click("open");
    w.click("done");
  });
  ui.scriptModal([&](fake::Window& w) {
    depths.push_back(ui.modalStack.size());
    w.click("open");
    w.requestClose();
  });
  ui.scriptModal([&](fake::Window& w) {
    depths.push_back(ui.modalStack.size());
    w.click("done");
  });
  ui.runModal(outer, nullptr);
  EXPECT_EQ(depths, (std::vector<std::size_t>{1, 2, 3}));
  EXPECT_TRUE(ui.modalStack.empty());
  ASSERT_EQ(ui.windows.size(), 3u);
  EXPECT_EQ(ui.windows[0]->closedBy, fake::ClosedBy::Program);
  EXPECT_EQ(ui.windows[1]->closedBy, fake::ClosedBy::CaptionButton);
  EXPECT_EQ(ui.windows[2]->closedBy, fake::ClosedBy::Program);
  EXPECT_EQ(ui.scriptsLeft(), 0u);
}

TEST(FakeModal, AWindowLeftOpenOrOpenedWithoutAScriptIsAFault) {
  fake::WindowSystem ui;
  Nesting lone(ui, nullptr);
  EXPECT_THROW(ui.runModal(lone, nullptr), std::logic_error);
  ui.scriptModal([](fake::Window&) {});
  EXPECT_THROW(ui.runModal(lone, nullptr), std::logic_error);
  EXPECT_TRUE(ui.modalStack.empty());
}

TEST(FakeWindow, DestroyActionsRunOnceAndTimersStopWithTheWindow) {
  fake::WindowSystem ui;
  fake::TableWindow logic(table());
  fake::Window& w = ui.create(logic);
  int ran = 0;
  w.whenDestroyed([&] { ++ran; });
  w.startTimer("clock");
  w.close();
  w.close();
  EXPECT_EQ(ran, 1);
  EXPECT_FALSE(w.timerRunning("clock"));
  EXPECT_THROW(w.click("button"), std::logic_error) << "a closed window takes no clicks";
}

}  // namespace
