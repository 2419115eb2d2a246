#include "wim/wim_info.h"

#include <gtest/gtest.h>


#include "tests/fakes/fake_os.h"
#include "tests/fakes/fake_ui.h"
#include "tests/support/gbk_text.h"
#include "tests/wim/wim_data.h"

namespace {

using wimtest::readData;

TEST(WimInfo, EntriesFromInformationTexts) {
  const struct {
    const char* what;
    const char* text;
    std::vector<std::string> entries;
  } cases[] = {
      {"one element per line",
       "<IMAGE INDEX=\"1\">\r\n<NAME>Win7</NAME>\r\n</IMAGE>\r\n<IMAGE INDEX=\"2\">\r\n<NAME>Data</NAME>\r\n",
       {"1: Win7", "2: Data"}},
      {"several names on one line: the first only",
       "<WIM><IMAGE><NAME>A</NAME></IMAGE><IMAGE><NAME>B</NAME></IMAGE></WIM>\r\n<NAME>C</NAME>\r\n",
       {"1: A", "2: C"}},
      {"display names", "<NAME>W</NAME>\r\n<DISPLAYNAME>Windows 7</DISPLAYNAME>\r\n<NAME>V</NAME>\r\n"
                        "<DISPLAYNAME>专业版</DISPLAYNAME>\r\n",
       {"1: W(Windows 7)", "2: V(专业版)"}},
      {"fewer display names than names",
       "<NAME>W</NAME>\r\n<DISPLAYNAME>Windows 7</DISPLAYNAME>\r\n<NAME>V</NAME>\r\n", {"1: W(Windows 7)", "2: V"}},
      {"flags only", "<FLAGS>Ultimate</FLAGS>\r\n<FLAGS>Professional</FLAGS>\r\n",
       {"1: Ultimate", "2: Professional"}},
      {"installation type only", "<INSTALLATIONTYPE>Client</INSTALLATIONTYPE>\r\n", {"1: Client"}},
      {"letter case of the tags", "<name>lower</Name>\r\n", {"1: lower"}},
      {"empty names are skipped", "<NAME></NAME>\r\n<NAME>x</NAME>\r\n", {"1: x"}},
      {"last line without line end", "Image Count: 1\r\n<NAME>tail</NAME>", {"1: tail"}},
      {"nothing", "Image Count: 3\r\n", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(wim::volumeEntries(c.text), c.entries) << c.what;
}

// With the images' INDEX in the output, an entry carries its image's own number: an
// unnamed image keeps its place under a placeholder, and a display name stays with
// the name of its own image.
TEST(WimInfo, EntriesCarryTheImagesIndex) {
  const struct {
    const char* what;
    const char* text;
    std::vector<std::string> entries;
  } cases[] = {
      {"image 2 of three unnamed",
       "<IMAGE INDEX=\"1\">\r\n<NAME>A</NAME>\r\n</IMAGE>\r\n<IMAGE INDEX=\"2\">\r\n<FLAGS>x</FLAGS>\r\n</IMAGE>\r\n"
       "<IMAGE INDEX=\"3\">\r\n<NAME>C</NAME>\r\n</IMAGE>\r\n",
       {"1: A", "2: [未命名]", "3: C"}},
      {"image 3 of three unnamed",
       "<IMAGE INDEX=\"1\">\r\n<NAME>A</NAME>\r\n</IMAGE>\r\n<IMAGE INDEX=\"2\">\r\n<NAME>B</NAME>\r\n</IMAGE>\r\n"
       "<IMAGE INDEX=\"3\">\r\n</IMAGE>\r\n",
       {"1: A", "2: B", "3: [未命名]"}},
      {"display name of image 2 only",
       "<IMAGE INDEX=\"1\">\r\n<NAME>W</NAME>\r\n</IMAGE>\r\n<IMAGE INDEX=\"2\">\r\n<NAME>V</NAME>\r\n"
       "<DISPLAYNAME>专业版</DISPLAYNAME>\r\n</IMAGE>\r\n",
       {"1: W", "2: V(专业版)"}},
      {"numbers as the file gives them", "<image index=\"4\">\r\n<NAME>D</NAME>\r\n</IMAGE>\r\n<WIM>\r\n<NAME>outside</NAME>\r\n",
       {"4: D"}},
      {"no names: the flags, unflagged images kept",
       "<IMAGE INDEX=\"1\">\r\n</IMAGE>\r\n<IMAGE INDEX=\"2\">\r\n<FLAGS>Ultimate</FLAGS>\r\n</IMAGE>\r\n",
       {"1: [未命名]", "2: Ultimate"}},
      {"an INDEX that is no image number names no image",
       "<IMAGE INDEX=\"0\">\r\n<NAME>Z</NAME>\r\n</IMAGE>\r\n<IMAGE INDEX=\"99999999999\">\r\n<NAME>L</NAME>\r\n"
       "</IMAGE>\r\n<IMAGE INDEX=\"-2\">\r\n<NAME>N</NAME>\r\n</IMAGE>\r\n<IMAGE INDEX=\"2\">\r\n<NAME>B</NAME>\r\n</IMAGE>\r\n",
       {"2: B"}},
      {"nothing to show", "Image Count: 2\r\n<IMAGE INDEX=\"1\">\r\n</IMAGE>\r\n<IMAGE INDEX=\"2\">\r\n</IMAGE>\r\n", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(wim::volumeEntries(c.text), c.entries) << c.what;
  EXPECT_EQ(wim::imageIndexOfEntry("3: C"), 3);
  EXPECT_EQ(wim::imageIndexOfEntry("12: 二"), 12);
  EXPECT_EQ(wim::imageIndexOfEntry("1:  "), 1);
}

TEST(WimInfo, ImageCount) {
  EXPECT_EQ(wim::imageCountOf("WIM Information:\r\nImage Count: 2\r\n"), 2);
  EXPECT_EQ(wim::imageCountOf("image count:   7 images\r\n"), 7);
  EXPECT_EQ(wim::imageCountOf("Image Count: 0\r\n"), 0);
  EXPECT_EQ(wim::imageCountOf("Image Count:\r\n"), 0);
  EXPECT_EQ(wim::imageCountOf("no count\r\n"), 0);
  EXPECT_EQ(wim::imageCountOf(""), 0);
}

struct ListingTest : ::testing::Test {
  fake::World w;
  fake::WindowSystem ui;
  core::AppState state;
  core::Context ctx{w.os, ui, state, {}};
  fake::Control combo{{"volumeCombo", ui::Kind::DropDownList}};
  ListingTest() {
    state.tools.enginePath = "X:\\Temp\\\\ZeDadaviZezi.exe";
  }
};

// The engine's output for a solid two-image ESD made by wimlib-imagex whose second
// image has no name: both are listed, each under its own number.
TEST_F(ListingTest, RecordedEsdWithAnUnnamedImage) {
  w.processes.answer("/info", readData("info_esd_unnamed_image.txt"));
  EXPECT_EQ(wim::listWimVolumes(ctx, "Z:\\sources\\install.esd", combo, nullptr), wim::VolumeListing::Listed);
  ASSERT_EQ(combo.count(), 2);
  EXPECT_GBK_EQ("1: Windows 10 专业版", combo.itemText(0));
  EXPECT_GBK_EQ("2: [未命名]", combo.itemText(1));
  EXPECT_EQ(wim::selectDefaultImage(combo), 2);
}

// The recorded output of the real engine, UTF-8 with Chinese names.
TEST_F(ListingTest, RecordedEngineOutput) {
  w.processes.answer("/info", readData("info_two_images.txt"));
  EXPECT_EQ(wim::listWimVolumes(ctx, "D:\\系统\\install.wim", combo, nullptr), wim::VolumeListing::Listed);
  ASSERT_EQ(w.processes.captured.size(), 1u);
  EXPECT_GBK_EQ("cmd.exe /c X:\\Temp\\\\ZeDadaviZezi.exe /info \"D:\\系统\\install.wim\"", w.processes.captured[0]);
  ASSERT_EQ(combo.count(), 2);
  EXPECT_GBK_EQ("1: Windows 7 旗舰版", combo.itemText(0));
  EXPECT_GBK_EQ("2: 数据 二", combo.itemText(1));
  EXPECT_EQ(combo.selection(), 0);
  EXPECT_EQ(wim::selectDefaultImage(combo), 2);
  EXPECT_EQ(combo.selection(), 1);
  EXPECT_TRUE(ui.boxes.empty());
}

// A 32-bit program on a 64-bit host starts the x86-64 engine the start-up wrote (the
// host's wimgapi.dll is 64-bit); on a 32-bit host, or where none was written, the one
// that matches the program.
TEST_F(ListingTest, TheEngineStartedMatchesTheHost) {
  w.processes.answer("/info", "Image Count: 1\r\n");
  state.tools.engine64Path = "X:\\Temp\\\\x64\\ZeDadaviZezi.exe";
  w.system.wow64 = true;
  wim::listWimVolumes(ctx, "D:\\a.wim", combo, nullptr);
  w.system.wow64 = false;
  wim::listWimVolumes(ctx, "D:\\a.wim", combo, nullptr);
  state.tools.engine64Path.clear();
  w.system.wow64 = true;
  wim::listWimVolumes(ctx, "D:\\a.wim", combo, nullptr);
  EXPECT_EQ(w.processes.captured, (std::vector<std::string>{
                                      "cmd.exe /c X:\\Temp\\\\x64\\ZeDadaviZezi.exe /info \"D:\\a.wim\"",
                                      "cmd.exe /c X:\\Temp\\\\ZeDadaviZezi.exe /info \"D:\\a.wim\"",
                                      "cmd.exe /c X:\\Temp\\\\ZeDadaviZezi.exe /info \"D:\\a.wim\"",
                                  }));
}

TEST_F(ListingTest, CountWithoutNamesOffersImageOne) {
  w.processes.answer("/info", "Image Count: 1\r\n");
  EXPECT_EQ(wim::listWimVolumes(ctx, "D:\\系统\\install.wim", combo, nullptr), wim::VolumeListing::Listed);
  ASSERT_EQ(combo.count(), 1);
  EXPECT_EQ(combo.itemText(0), "1:  ");
  EXPECT_EQ(wim::selectDefaultImage(combo), 1);
}

TEST_F(ListingTest, NothingRecognisedAsks) {
  for (int answer : {ui::kAnswerYes, ui::kAnswerNo}) {
    w.processes.answer("/info", readData("info_failure_missing.txt"));
    ui.boxes.clear();
    ui.answers = {answer};
    combo.addItem("old entry");
    const wim::VolumeListing got = wim::listWimVolumes(ctx, "D:\\系统\\install.wim", combo, nullptr);
    EXPECT_EQ(got, answer == ui::kAnswerYes ? wim::VolumeListing::AcceptedFirst : wim::VolumeListing::Refused);
    EXPECT_EQ(combo.count(), 0);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_GBK_EQ("未检测到卷信息,无法正常还原。\r\n选择\"是(Y)\"将还原WIM映像文件中的卷 1 ,选择\"否(N)\"将停止还原。", ui.boxes[0].text);
    EXPECT_EQ(ui.boxes[0].style, 0x2034u);
    EXPECT_GBK_EQ("提示", ui.boxes[0].title);
    EXPECT_EQ(wim::selectDefaultImage(combo), 1);
  }
}

TEST(WimInfo, Utf8BecomesCodePage936) {
  fake::System system;
  EXPECT_GBK_EQ("旗舰版", wim::decodeUtf8ToAnsi(system, "\xE6\x97\x97\xE8\x88\xB0\xE7\x89\x88"));
  EXPECT_EQ(wim::decodeUtf8ToAnsi(system, ""), "");
  // A character code page 936 lacks becomes '?'.
  EXPECT_EQ(wim::decodeUtf8ToAnsi(system, "a\xF0\x9F\x98\x80" "b"), "a?b");
}

}  // namespace
