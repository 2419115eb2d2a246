// The bcdboot launcher's core: the child's command line keeps the arguments exactly,
// the tool is taken from the system directory only, and refusals never read as success.
#include <gtest/gtest.h>

#include "tools/bcdboot/launcher.h"

namespace {

class FakeSystem : public bcdboot::Backend {
 public:
  std::u16string systemDirectory() override { return directory; }
  std::u16string windowsDirectory() override { return windows; }
  bool isWow64() override { return wow64; }
  // Under WOW64 System32 is SysWOW64, which has no bcdboot: only the alias finds it.
  bool fileExists(const std::u16string& path) override {
    return exists && path == (wow64 ? u"X:\\Windows\\Sysnative\\bcdboot.exe" : u"X:\\Windows\\System32\\bcdboot.exe");
  }
  bool wouldRecurse(const std::u16string&) override { return recursion; }
  long run(const std::u16string& path, const std::u16string& line) override {
    ranPath = path;
    ranLine = line;
    return exitCode;
  }
  std::u16string directory = u"X:\\Windows\\System32";
  std::u16string windows = u"X:\\Windows";
  bool wow64 = false;
  bool exists = true;
  bool recursion = false;
  long exitCode = 0;
  std::u16string ranPath, ranLine;
};

TEST(BcdbootLauncher, PassesTheArgumentsThroughUnchanged) {
  const std::pair<const char16_t*, const char16_t*> cases[] = {
      {u"C:\\Windows /s C:\\  /l zh-cn ", u"\"X:\\Windows\\System32\\bcdboot.exe\" C:\\Windows /s C:\\  /l zh-cn "},
      {u"C:\\Windows /s S: /f all /l zh-cn ",
       u"\"X:\\Windows\\System32\\bcdboot.exe\" C:\\Windows /s S: /f all /l zh-cn "},
      {u"\"D:\\My Windows\\Windows\" /s S:", u"\"X:\\Windows\\System32\\bcdboot.exe\" \"D:\\My Windows\\Windows\" /s S:"},
      {u"", u"\"X:\\Windows\\System32\\bcdboot.exe\""},
  };
  for (auto [arguments, expected] : cases) {
    FakeSystem system;
    system.exitCode = 7;
    toolio::CapturedOut out;
    EXPECT_EQ(bcdboot::runLauncher(arguments, system, out), 7);
    EXPECT_EQ(system.ranLine, expected);
    EXPECT_EQ(system.ranPath, u"X:\\Windows\\System32\\bcdboot.exe");
    EXPECT_EQ(out.text(), "");  // the tool's own output is all there is
  }
}

TEST(BcdbootLauncher, A32BitProcessOnA64BitHostStartsTheNativeToolThroughSysnative) {
  for (const char16_t* windows : {u"X:\\Windows", u"X:\\Windows\\"}) {
    FakeSystem system;
    system.wow64 = true;
    system.windows = windows;
    toolio::CapturedOut out;
    EXPECT_EQ(bcdboot::runLauncher(u"C:\\Windows /s S:", system, out), 0) << out.text();
    EXPECT_EQ(system.ranPath, u"X:\\Windows\\Sysnative\\bcdboot.exe");
    EXPECT_EQ(system.ranLine, u"\"X:\\Windows\\Sysnative\\bcdboot.exe\" C:\\Windows /s S:");
  }
  // No Windows directory to build the alias from: System32 would be the wrong one.
  FakeSystem unknown;
  unknown.wow64 = true;
  unknown.windows.clear();
  toolio::CapturedOut out;
  EXPECT_EQ(bcdboot::runLauncher(u"C:\\Windows /s S:", unknown, out), 1);
  EXPECT_EQ(out.text(), "错误: 无法确定系统目录,找不到系统的 bcdboot 工具。\r\n");
  EXPECT_TRUE(unknown.ranPath.empty());
}

TEST(BcdbootLauncher, SystemDirectoryWithOrWithoutBackslash) {
  EXPECT_EQ(bcdboot::systemToolPath(u"C:\\Windows\\system32\\"), u"C:\\Windows\\system32\\bcdboot.exe");
  EXPECT_EQ(bcdboot::systemToolPath(u"C:\\Windows\\system32"), u"C:\\Windows\\system32\\bcdboot.exe");
}

TEST(BcdbootLauncher, RefusalsRunNothingAndNeverSoundLikeSuccess) {
  FakeSystem missing;
  missing.exists = false;
  FakeSystem recursive;
  recursive.recursion = true;
  FakeSystem noDirectory;
  noDirectory.directory.clear();
  FakeSystem unstartable;
  unstartable.exitCode = -1;
  for (FakeSystem* system : {&missing, &recursive, &noDirectory, &unstartable}) {
    toolio::CapturedOut out;
    EXPECT_EQ(bcdboot::runLauncher(u"C:\\Windows /s C:\\", *system, out), 1);
    EXPECT_NE(out.text().rfind("错误: ", 0), std::string::npos);
    EXPECT_EQ(out.text().find("successfully"), std::string::npos);
    EXPECT_EQ(out.text().find("成功"), std::string::npos);
  }
  EXPECT_TRUE(missing.ranLine.empty());
  EXPECT_TRUE(recursive.ranLine.empty());
}

}  // namespace
