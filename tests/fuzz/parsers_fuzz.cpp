// Fuzz targets for what the program reads from its tools and its texts: the lister's
// output, the WIM engine's information and progress lines, the text tools and the GBK
// helpers. Each target also checks what must hold for any input; a broken rule aborts.
//   parsers_fuzz TARGET FILE...   run each file through the target (AFL++ calls it so)
//   parsers_fuzz --replay DIR     every file of DIR/<target>/ through its target
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "disks/cell_colours.h"
#include "disks/partition_inventory.h"
#include "platform/gbk.h"
#include "runner/text_tools.h"
#include "tests/fakes/fake_os.h"
#include "tests/fakes/fake_ui.h"
#include "wim/progress_monitor.h"
#include "wim/wim_info.h"

namespace {

#define MUST(condition)                                                          \
  do {                                                                           \
    if (!(condition)) {                                                          \
      std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                              \
    }                                                                            \
  } while (0)

bool isPart(std::string_view whole, std::string_view part) {
  return part.empty() || whole.find(part) != std::string_view::npos;
}

// Up to three texts from one input, separated by NUL bytes.
std::vector<std::string_view> fields(std::string_view data, std::size_t count) {
  std::vector<std::string_view> out;
  while (out.size() + 1 < count) {
    const std::size_t nul = data.find('\0');
    if (nul == std::string_view::npos) break;
    out.push_back(data.substr(0, nul));
    data.remove_prefix(nul + 1);
  }
  out.push_back(data);
  while (out.size() < count) out.emplace_back();
  return out;
}

// The lister's whole output into the partition list, as the program reads it at start.
void lister(std::string_view data) {
  fake::World w;
  w.volumes.drives = {{"C:\\", 3}, {"D:\\", 5}, {"E:\\", 2}, {"F:\\", 3}};
  w.files.addFile("C:\\Windows\\System32\\cmd.exe", "MZ");
  w.processes.answer("lister.exe", std::string(data));
  ui::ControlSpec spec{"partitionList", ui::Kind::ListView};
  spec.columns.resize(6);
  fake::Control list{spec};
  disks::CellColourRegistry colours;
  disks::fillPartitionList(w.os, "X:\\Temp\\\\lister.exe", list, colours);
  for (int row = 0; row < list.rowCount(); ++row) {
    MUST(gbk::contains(list.cell(row, disks::kColumnIndex), ":"));
    const std::string drive = list.cell(row, disks::kColumnDrive);
    MUST(drive.empty() || gbk::endsWithBackslash(drive));
  }
  for (const std::string& line : gbk::split(data, "\n")) {
    if (const auto record = disks::parseListerRecord(line)) MUST(gbk::contains(record->cells[disks::kColumnIndex], ":"));
    disks::isTooSmall(line);
  }
}

// The engine's information text into the image entries.
void wimInfo(std::string_view data) {
  const std::vector<std::string> entries = wim::volumeEntries(data);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    MUST(gbk::startsWith(entries[i], std::to_string(i + 1) + ": "));
    MUST(entries[i].find("\r\n") == std::string::npos);
  }
  wim::imageCountOf(data);
}

// The console text into the progress labels, both windows' way.
void progress(std::string_view data) {
  for (const wim::ProgressMarkers* markers : {&wim::kApplyMarkers, &wim::kCaptureMarkers}) {
    fake::Control box{{"engineLogBox", ui::Kind::MultiLineEdit}};
    fake::Control percent{{"percentLabel", ui::Kind::Label, "  0%"}};
    fake::Control bar{{"progressBar", ui::Kind::ProgressBar}};
    fake::Control remaining{{"remainingLabel", ui::Kind::Label}};
    box.setText(data);
    wim::parseProgress(box, *markers, {percent, bar, remaining});
    const wim::ProgressReading reading = wim::readProgress(data, *markers);
    const std::string line = wim::lastCompleteLine(data);
    MUST(isPart(data, line));
    MUST(line.find("\r\n") == std::string::npos);
    if (!markers->removeBlanks) MUST(isPart(line, reading.percent));
    MUST(isPart(line, reading.remaining));
  }
}

// lineOf, textBetween and findLineContaining on a text and two markers.
void textTools(std::string_view data) {
  const std::vector<std::string_view> f = fields(data, 3);
  const std::string_view text = f[0], left = f[1], right = f[2];
  const int n = data.empty() ? 1 : static_cast<unsigned char>(data[0]) % 8 - 1;
  const std::string line = runner::lineOf(text, n);
  MUST(isPart(text, line));
  MUST(line.find("\r\n") == std::string::npos);
  for (bool ignoreCase : {false, true}) {
    const std::string between = runner::textBetween(text, left, right, n, ignoreCase);
    MUST(isPart(text, between));
  }
  const int found = runner::findLineContaining(text, left);
  MUST(found >= 0);
  if (found > 0) MUST(gbk::contains(gbk::toLowerAscii(runner::lineOf(text, found)), gbk::toLowerAscii(left)));
}

// The one place that knows GBK's double-byte characters.
void gbkHelpers(std::string_view data) {
  const std::vector<std::string_view> f = fields(data, 2);
  const std::string_view text = f[0], needle = f[1];
  std::size_t steps = 0;
  for (std::size_t i = 0; i < text.size(); i += gbk::charLength(text, i)) {
    const std::size_t n = gbk::charLength(text, i);
    MUST(n == 1 || n == 2);
    MUST(i + n <= text.size());
    ++steps;
  }
  MUST(gbk::charLength(text, text.size()) == 0);
  MUST(steps <= text.size());
  const std::string upper = gbk::toUpperAscii(text), lower = gbk::toLowerAscii(text);
  MUST(upper.size() == text.size() && lower.size() == text.size());
  MUST(gbk::equalsIgnoreCase(upper, lower));
  const std::size_t at = gbk::find(text, needle);
  if (at != std::string_view::npos) {
    MUST(text.substr(at, needle.size()) == needle);
    MUST(gbk::contains(text, needle));
  }
  MUST((gbk::find(upper, gbk::toUpperAscii(needle), 0, true) == std::string_view::npos) ==
       (gbk::find(text, needle, 0, true) == std::string_view::npos));
  const std::size_t last = gbk::findLastByte(text, '\\');
  if (last != std::string_view::npos) MUST(text[last] == '\\');
  MUST(gbk::endsWithBackslash(text) == (last != std::string_view::npos && last + 1 == text.size()));
  if (!needle.empty()) {
    // Split at a separator and joined with it again, the text is whole.
    const std::vector<std::string> pieces = gbk::split(text, needle);
    std::string joined;
    for (std::size_t i = 0; i < pieces.size(); ++i) joined += (i ? std::string(needle) : "") + pieces[i];
    MUST(joined == text);
    const std::string replaced = gbk::replaceAll(text, needle, "");
    MUST(replaced.size() <= text.size());
  }
  MUST(isPart(text, gbk::trimBlanks(text)));
  MUST(isPart(text, gbk::trimAsciiSpaces(text)));
  MUST(gbk::startsWith(text, text) && gbk::endsWith(text, text));
  gbk::leadingNumber(text);
  gbk::leadingInteger(text);
}

struct Target {
  const char* name;
  void (*run)(std::string_view);
};
constexpr Target kTargets[] = {
    {"lister", lister}, {"wiminfo", wimInfo}, {"progress", progress}, {"texttools", textTools}, {"gbk", gbkHelpers},
};

const Target* targetNamed(std::string_view name) {
  for (const Target& t : kTargets)
    if (name == t.name) return &t;
  return nullptr;
}

bool runFile(const Target& target, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  target.run(data);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string_view(argv[1]) == "--replay") {
    int files = 0;
    for (const Target& target : kTargets) {
      const std::string folder = std::string(argv[2]) + "/" + target.name;
      DIR* dir = opendir(folder.c_str());
      if (!dir) {
        std::fprintf(stderr, "no corpus %s\n", folder.c_str());
        return 1;
      }
      int here = 0;
      while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        if (!runFile(target, folder + "/" + entry->d_name)) return 1;
        ++here;
      }
      closedir(dir);
      if (here == 0) {
        std::fprintf(stderr, "empty corpus %s\n", folder.c_str());
        return 1;
      }
      files += here;
    }
    std::printf("replayed %d files\n", files);
    return 0;
  }
  const Target* target = argc >= 3 ? targetNamed(argv[1]) : nullptr;
  if (!target) {
    std::fprintf(stderr, "usage: parsers_fuzz lister|wiminfo|progress|texttools|gbk FILE... | --replay DIR\n");
    return 2;
  }
  for (int i = 2; i < argc; ++i)
    if (!runFile(*target, argv[i])) return 1;
  return 0;
}
