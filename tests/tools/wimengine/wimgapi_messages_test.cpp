#include "tools/wimengine/wimgapi_messages.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "tools/common/utf.h"

namespace wimengine {
namespace {

struct Recorded {
  std::uint32_t id;
  std::uint64_t wParam;
  std::int64_t lParam;
  std::u16string path;
  std::string expectation;  // "skip", "keep" or empty
};

// The data file is UTF-8; paths go to the handler as UTF-16, as WIMGAPI sends them.
std::vector<Recorded> loadRecording(const std::string& file) {
  // WIM_MSG_SCANNING, _PROCESS, _PROGRESS and _ERROR as wimgapi.h numbers them
  // (WM_APP + 0x1476 + 4, 3, 2, 9).
  const std::map<std::string, std::uint32_t> ids = {
      {"SCANNING", 0x947A}, {"PROCESS", 0x9479}, {"PROGRESS", 0x9478}, {"ERROR", 0x947F}};
  std::ifstream in(std::string(WIMENGINE_TEST_DATA) + "/" + file);
  EXPECT_TRUE(in) << file;
  std::vector<Recorded> messages;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string name, rest;
    Recorded m{};
    fields >> name >> m.wParam >> m.lParam;
    std::getline(fields, rest);
    if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
    std::size_t bar = rest.find('|');
    if (bar != std::string::npos) {
      m.path = toolio::utf8ToUtf16(rest.substr(0, bar));
      m.expectation = rest.substr(bar + 1);
    }
    m.id = ids.at(name);
    messages.push_back(m);
  }
  return messages;
}

TEST(WimEngineWimgapi, RecordedCaptureMessages) {
  std::int64_t now = 0;
  toolio::CapturedOut out;
  ProgressReporter progress(out, ProgressVerb::Capturing, [&] { return now; });
  WimgapiMessageHandler handler(progress, Step::ReadSource, u"C:\\",
                                {u"C:\\bak.wim.vrelpart", u"C:\\ImagexTemp\\"});
  std::vector<Recorded> messages = loadRecording("wimgapi_capture_messages.txt");
  ASSERT_EQ(messages.size(), 19u);
  for (const Recorded& m : messages) {
    now += 1000;
    MessageReply reply = handler.handle(m.id, m.wParam, m.lParam, m.path);
    EXPECT_EQ(reply.status, 0u) << "WIM_MSG_SUCCESS";
    if (m.id == 0x9479)  // WIM_MSG_PROCESS
      EXPECT_EQ(reply.skipFile, m.expectation == "skip") << toolio::utf16ToUtf8(m.path);
    else
      EXPECT_FALSE(reply.skipFile);
  }
  // WIMGAPI's own estimate is shown; where it sends 0 before the end, the engine
  // estimates from the time taken so far (13 s for 12%).
  EXPECT_EQ(out.text(),
            "[   0% ] Capturing progress\r\n"
            "[  12% ] Capturing progress: 1:36 mins remaining\r\n"
            "[  45% ] Capturing progress: 2:10 mins remaining\r\n"
            "[  45% ] Capturing progress: 2:09 mins remaining\r\n"
            "[  80% ] Capturing progress: 0:30 mins remaining\r\n"
            "[  99% ] Capturing progress: 0:00 mins remaining\r\n");
  // The first file error names the cause: a file in use.
  ASSERT_TRUE(handler.firstError().has_value());
  EXPECT_EQ(handler.firstError()->kind, ErrorKind::SourceUnreadable);
  EXPECT_EQ(handler.firstError()->code, 32);
}

TEST(WimEngineWimgapi, ApplyErrorsReadAsTargetProblems) {
  std::int64_t now = 0;
  toolio::CapturedOut out;
  ProgressReporter progress(out, ProgressVerb::Applying, [&] { return now; });
  WimgapiMessageHandler handler(progress, Step::WriteTarget);
  EXPECT_FALSE(handler.isExcluded(u"C:\\pagefile.sys"));  // apply excludes nothing
  handler.handle(0x947F, 0, 112, u"D:\\Windows\\big.dat");
  handler.handle(0x947F, 0, 5, u"D:\\x");
  ASSERT_TRUE(handler.firstError().has_value());
  EXPECT_EQ(handler.firstError()->kind, ErrorKind::DiskFull);
}

TEST(WimEngineWimgapi, Win32ErrorsByStep) {
  struct Case {
    std::uint32_t code;
    Step step;
    ErrorKind kind;
  } cases[] = {
      {2, Step::OpenWim, ErrorKind::WimMissing},
      {3, Step::WriteTarget, ErrorKind::TargetMissing},
      {2, Step::ReadSource, ErrorKind::SourceMissing},
      {3, Step::WriteWim, ErrorKind::DestinationNotWritable},
      {5, Step::OpenWim, ErrorKind::WimUnreadable},
      {19, Step::WriteTarget, ErrorKind::TargetNotWritable},
      {32, Step::ReadSource, ErrorKind::SourceUnreadable},
      {5, Step::WriteWim, ErrorKind::DestinationNotWritable},
      {112, Step::WriteTarget, ErrorKind::DiskFull},
      {39, Step::WriteWim, ErrorKind::DiskFull},
      {13, Step::OpenWim, ErrorKind::WimCorrupt},
      {23, Step::WriteTarget, ErrorKind::WimCorrupt},
      {23, Step::ReadSource, ErrorKind::SourceUnreadable},
      {1813, Step::ReadWim, ErrorKind::IndexOutOfRange},
      {14, Step::ReadSource, ErrorKind::OutOfMemory},
      {1234, Step::WriteTarget, ErrorKind::Other},
  };
  for (const Case& k : cases) EXPECT_EQ(kindOfWin32Error(k.code, k.step), k.kind) << k.code;
}

TEST(WimEngineWimgapi, BareDriveMeansItsRoot) {
  const std::pair<const char*, const char*> cases[] = {
      {"C:", "C:\\"}, {"z:", "z:\\"}, {"C:\\", "C:\\"}, {"C:\\Win", "C:\\Win"}, {"1:", "1:"}, {"CC", "CC"}, {"", ""}};
  for (auto [in, expected] : cases) EXPECT_EQ(driveToRoot(in), expected) << in;
}

}  // namespace
}  // namespace wimengine
