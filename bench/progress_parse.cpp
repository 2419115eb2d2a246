// The 50 ms progress parse with the log box at its cap (30000 bytes): how long one
// parse takes, against simply copying the box's text once (the floor of any parse).
#include <benchmark/benchmark.h>

#include <string>

#include "wim/progress_monitor.h"

namespace {

// A box filled to the cap with engine lines, the newest one still being rewritten.
std::string fullBox(bool bareLineFeed) {
  std::string box = bareLineFeed ? "a stray line feed\n" : "";
  for (int i = 0; box.size() < 29900; ++i)
    box += "[  " + std::to_string(10 + i % 90) + "% ] Applying progress: 0:12 mins remaining\r\n";
  box += "[  99% ] Applying pro";
  return box;
}

class TextBox : public ui::Control {
 public:
  std::string value;
  std::string text() const override { return value; }
  void setText(std::string_view t) override { value = t; }
  void appendText(std::string_view t) override { value.append(t); }
  bool enabled() const override { return true; }
  void setEnabled(bool) override {}
  bool visible() const override { return true; }
  void setVisible(bool) override {}
  bool checked() const override { return false; }
  void setChecked(bool) override {}
  void focus() override {}
  int count() const override { return 0; }
  std::string itemText(int) const override { return {}; }
  int addItem(std::string_view) override { return 0; }
  void setItemText(int, std::string_view) override {}
  void deleteItem(int) override {}
  void clearItems() override {}
  int selection() const override { return -1; }
  void setSelection(int) override {}
  int selectByPrefix(std::string_view) override { return -1; }
  int caretIndex() const override { return -1; }
  int rowCount() const override { return 0; }
  int addRow(std::string_view, int) override { return 0; }
  void setCell(int, int, std::string_view) override {}
  std::string cell(int, int) const override { return {}; }
  void deleteRow(int) override {}
  void deleteAllRows() override {}
  int rowIcon(int) const override { return 0; }
  void setRowIcon(int, int) override {}
  int selectedRow() const override { return -1; }
  void selectRow(int) override {}
  std::uint32_t textColour() const override { return 0; }
  std::uint32_t backgroundColour() const override { return 0; }
  void setCellColours(std::function<std::optional<ui::Colour>(int, int)>) override {}
  void repaint() override {}
  int position() const override { return pos; }
  void setPosition(int p) override { pos = p; }
  int pos = 0;
};

void parse(benchmark::State& state, bool bareLineFeed) {
  TextBox box, percent, bar, remaining;
  box.value = fullBox(bareLineFeed);
  for (auto _ : state) {
    wim::parseProgress(box, wim::kApplyMarkers, {percent, bar, remaining});
    benchmark::DoNotOptimize(percent.value);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * box.value.size()));
}

void BM_ParseFullBox(benchmark::State& state) { parse(state, false); }
void BM_ParseFullBoxWithBareLineFeed(benchmark::State& state) { parse(state, true); }
void BM_CopyBoxText(benchmark::State& state) {
  TextBox box;
  box.value = fullBox(false);
  for (auto _ : state) benchmark::DoNotOptimize(box.text());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * box.value.size()));
}

BENCHMARK(BM_ParseFullBox);
BENCHMARK(BM_ParseFullBoxWithBareLineFeed);
BENCHMARK(BM_CopyBoxText);

}  // namespace

BENCHMARK_MAIN();
