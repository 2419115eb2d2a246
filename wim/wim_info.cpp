#include "wim/wim_info.h"

#include <algorithm>
#include <limits>

#include "core/message_box.h"
#include "platform/gbk.h"
#include "runner/command_runner.h"
#include "wim/engine_guard.h"
#include "runner/text_tools.h"

namespace wim {

namespace {

// Line n as the text tools read it, for n = 1 .. line feeds + 1.
std::vector<std::string> infoLines(std::string_view text) {
  if (text.empty()) return {};
  const auto count = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
  std::vector<std::string> pieces = gbk::split(text, "\r\n");
  if (!pieces.empty() && pieces.back().empty()) pieces.pop_back();
  pieces.resize(count);  // lines beyond the last piece are empty
  return pieces;
}

std::vector<std::string> elementValues(const std::vector<std::string>& lines, std::string_view name) {
  const std::string open = "<" + std::string(name) + ">";
  const std::string close = "</" + std::string(name) + ">";
  std::vector<std::string> values;
  for (const std::string& line : lines) {
    std::string value = runner::textBetween(line, open, close, 0, true);
    if (!value.empty()) values.push_back(std::move(value));
  }
  return values;
}

std::vector<std::string> numbered(const std::vector<std::string>& values) {
  std::vector<std::string> entries;
  for (std::size_t i = 0; i < values.size(); ++i) entries.push_back(std::to_string(i + 1) + ": " + values[i]);
  return entries;
}

// One <IMAGE INDEX="n"> element of the output and the values read inside it.
struct Image {
  int index = 0;
  std::string name, displayName, flags, installationType;
};

// The images by their INDEX attribute, with each value taken from the first line
// inside the element that has it; values outside every image are not an image's.
std::vector<Image> indexedImages(const std::vector<std::string>& lines) {
  std::vector<Image> images;
  bool inside = false;
  auto take = [&](const std::string& line, const char* element, std::string Image::*field) {
    const std::string tag(element);
    std::string value = runner::textBetween(line, "<" + tag + ">", "</" + tag + ">", 0, true);
    if (inside && !value.empty() && (images.back().*field).empty()) images.back().*field = std::move(value);
  };
  for (const std::string& line : lines) {
    const std::size_t open = gbk::find(line, "<IMAGE INDEX=\"", 0, true);
    if (open != std::string::npos) {
      // An INDEX that is no image number (0, negative, past int) names no image the
      // engine could apply: the element is passed over.
      const long index = gbk::leadingInteger(std::string_view(line).substr(open + 14));
      inside = index >= 1 && index <= std::numeric_limits<int>::max();
      if (inside) images.push_back({static_cast<int>(index)});
    }
    take(line, "NAME", &Image::name);
    take(line, "DISPLAYNAME", &Image::displayName);
    take(line, "FLAGS", &Image::flags);
    take(line, "INSTALLATIONTYPE", &Image::installationType);
    if (open == std::string::npos && gbk::contains(line, "</IMAGE>", true)) inside = false;
  }
  return images;
}

// One entry per image under its own number: the names when the file has any, failing
// them the flags, failing those the installation types; an image without the value
// shown keeps its place under a placeholder, so that no other image takes its number.
std::vector<std::string> indexedEntries(const std::vector<Image>& images) {
  for (std::string Image::*label : {&Image::name, &Image::flags, &Image::installationType}) {
    if (std::none_of(images.begin(), images.end(), [&](const Image& i) { return !(i.*label).empty(); })) continue;
    std::vector<std::string> entries;
    for (const Image& image : images) {
      std::string text = (image.*label).empty() ? std::string(kUnnamedImage) : image.*label;
      if (label == &Image::name && !image.displayName.empty()) text += "(" + image.displayName + ")";
      entries.push_back(std::to_string(image.index) + ": " + text);
    }
    return entries;
  }
  return {};
}

}  // namespace

std::string decodeUtf8ToAnsi(platform::SystemInfo& system, std::string_view bytes) {
  if (bytes.empty()) return {};
  return system.utf8ToAnsi(bytes);
}

std::string infoCommandLine(const std::string& enginePath, const std::string& imagePath) {
  return enginePath + " /info \"" + imagePath + "\"";
}

std::vector<std::string> volumeEntries(std::string_view infoText) {
  const std::vector<std::string> lines = infoLines(infoText);
  const std::vector<Image> images = indexedImages(lines);
  if (!images.empty()) return indexedEntries(images);
  // An engine that prints no INDEX: the entries are numbered in output order.
  const std::vector<std::string> names = elementValues(lines, "NAME");
  const std::vector<std::string> displayNames = elementValues(lines, "DISPLAYNAME");
  std::vector<std::string> entries = numbered(names);
  // A name without a display name of its own is shown plain.
  for (std::size_t i = 0; i < entries.size() && i < displayNames.size(); ++i)
    entries[i] += "(" + displayNames[i] + ")";
  if (entries.empty()) entries = numbered(elementValues(lines, "FLAGS"));
  if (entries.empty()) entries = numbered(elementValues(lines, "INSTALLATIONTYPE"));
  return entries;
}

int imageCountOf(std::string_view infoText) {
  static constexpr std::string_view kMarker = "Image Count:";
  const int number = runner::findLineContaining(infoText, kMarker);
  if (number == 0) return 0;
  const std::string line = runner::lineOf(infoText, number);
  if (line.size() <= kMarker.size()) return 0;
  return static_cast<int>(gbk::leadingInteger(std::string_view(line).substr(kMarker.size())));
}

VolumeListing listWimVolumes(core::Context& ctx, const std::string& imagePath, ui::Control& volumeCombo,
                             ui::Window* owner) {
  volumeCombo.clearItems();
  const std::string output = runner::runCaptured(ctx.os, infoCommandLine(enginePathFor(ctx), imagePath));
  const std::string text = decodeUtf8ToAnsi(ctx.os.system, output);
  for (const std::string& entry : volumeEntries(text)) volumeCombo.addItem(entry);
  VolumeListing result = VolumeListing::Listed;
  if (volumeCombo.count() == 0) {
    if (imageCountOf(text) >= 1) {
      volumeCombo.addItem("1:  ");
    } else {
      const int answer = core::showBox(ctx.ui, owner, kNoVolumesQuestion, ui::kYesNo | ui::kIconExclamation);
      result = answer == ui::kAnswerYes ? VolumeListing::AcceptedFirst : VolumeListing::Refused;
    }
  }
  if (volumeCombo.count() > 0) volumeCombo.setSelection(0);
  return result;
}

int selectDefaultImage(ui::Control& volumeCombo) {
  const int count = volumeCombo.count();
  if (count == 0) return 1;
  volumeCombo.setSelection(count - 1);
  return imageIndexOfEntry(volumeCombo.itemText(count - 1));
}

int imageIndexOfEntry(std::string_view entry) {
  const long index = gbk::leadingInteger(entry);
  return index >= 1 ? static_cast<int>(index) : 1;
}

}  // namespace wim
