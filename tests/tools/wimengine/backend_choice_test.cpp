#include "tools/wimengine/backend_choice.h"

#include <gtest/gtest.h>

#include "platform/gbk.h"
#include "tests/support/gbk_text.h"

namespace wimengine {
namespace {

// One library: every operation returns the scripted result and is logged by name.
struct ScriptedLibrary : Backend {
  ScriptedLibrary(std::string name, std::vector<std::string>& log) : name(std::move(name)), log(log) {}
  std::string name;
  std::vector<std::string>& log;
  Failure next = Failure{};
  Failure verified = Failure{};
  WimSummary filled;

  Failure readInfo(const std::string&, WimSummary& out) override {
    log.push_back(name + " info");
    out.imageCount = filled.imageCount;
    if (!filled.guid.empty()) out.guid = filled.guid;
    return next;
  }
  Failure apply(const Command&, toolio::Progress& progress) override {
    log.push_back(name + " apply");
    progress.report(1, 2);
    return next;
  }
  Failure capture(const CaptureRequest&, toolio::Progress&) override {
    log.push_back(name + " capture");
    return next;
  }
  Failure verifyImage(const std::string&) override {
    log.push_back(name + " verify");
    return verified;
  }
  bool isDirectory(const std::string&) override { return file("isDirectory"); }
  bool fileExists(const std::string&) override { return file("fileExists"); }
  bool isSpecialFile(const std::string&) override { return file("isSpecialFile"); }
  bool removeFile(const std::string&) override { return file("removeFile"); }
  bool replaceFile(const std::string&, const std::string&) override { return !file("replaceFile"); }
  std::int64_t nowMs() override { return 0; }
  std::string readFileStart(const std::string&, std::size_t) override {
    file("readFileStart");
    return {};
  }
  std::vector<std::string> matchingFiles(const std::string&) override {
    file("matchingFiles");
    return {};
  }
  // Only the system library's file operations may be used: they need no DLL.
  bool file(const char* what) {
    if (name != "system") log.push_back(name + " " + what);
    return false;
  }
};

struct Choice : ::testing::Test {
  std::vector<std::string> log;
  ScriptedLibrary system{"system", log}, wimlib{"wimlib", log};
  toolio::CapturedOut out;
  int run(LibraryChoice choice, std::vector<std::string> args) {
    FallbackBackend backend(system, wimlib, choice);
    return runEngine(args, backend, out);
  }
};

const std::vector<std::string> kApply = {"/apply", "D:\\win.wim", "1", "C:"};
const std::vector<std::string> kCapture = {"/capture", "C:", "E:\\bak.wim", "name", "desc"};
const std::vector<std::string> kInfo = {"/info", "D:\\win.esd"};

// An older WIMGAPI's refusal of an ESD, naming the DLL's version.
Failure esdOnOldWimgapi() {
  Failure f = failedWith(ErrorKind::EsdNeedsNewerWimgapi);
  f.name = "6.1.7601.17514";
  return f;
}

TEST_F(Choice, WhichLibraryRunsAndWhatAFailureSays) {
  using E = ErrorKind;
  struct Case {
    LibraryChoice choice;
    const std::vector<std::string>* args;
    Failure systemResult, wimlibResult;
    std::vector<std::string> calls;
    const char* lastLine;  // empty: success
  } cases[] = {
      {LibraryChoice::SystemFirst, &kApply, Failure{}, Failure{}, {"system apply"}, ""},
      // No DLL, a DLL without a needed call, an image it does not understand: wimlib.
      {LibraryChoice::SystemFirst, &kApply, failedWith(E::LibraryMissing), Failure{},
       {"system apply", "wimlib apply"}, ""},
      {LibraryChoice::SystemFirst, &kApply, failedWith(E::WimCorrupt, 13), Failure{},
       {"system apply", "wimlib apply"}, ""},
      {LibraryChoice::SystemFirst, &kInfo, failedWith(E::Other, 87), Failure{},
       {"system info", "wimlib info"}, ""},
      {LibraryChoice::SystemFirst, &kCapture, failedWith(E::LibraryMissing), Failure{},
       {"system capture", "wimlib capture", "wimlib verify"}, ""},
      {LibraryChoice::SystemFirst, &kCapture, Failure{}, Failure{}, {"system capture", "wimlib verify"}, ""},
      // An ESD on a WinPE before 4.0: wimlib reads it; forced to WIMGAPI, the user learns why not.
      {LibraryChoice::SystemFirst, &kInfo, esdOnOldWimgapi(), Failure{}, {"system info", "wimlib info"}, ""},
      {LibraryChoice::SystemOnly, &kInfo, esdOnOldWimgapi(), Failure{}, {"system info"},
       "错误: 此系统的 wimgapi.dll(版本 6.1.7601.17514)不能读取ESD映像(LZMS固实压缩),需要 WinPE 4.0 或更高版本"
       "(Windows 8 及以后的 WIMGAPI)。(wimgapi.dll)"},
      // Both refuse: wimlib's cause, with both libraries' codes.
      {LibraryChoice::SystemFirst, &kApply, failedWith(E::Other, 87), failedWith(E::WimUnsupported, 18),
       {"system apply", "wimlib apply"},
       "错误: 不支持此类WIM文件(拆分或加密的映像)。(wimgapi.dll 代码 87; wimlib 代码 18)"},
      {LibraryChoice::SystemFirst, &kInfo, failedWith(E::LibraryMissing), failedWith(E::WimCorrupt, 18),
       {"system info", "wimlib info"}, "错误: 映像文件已损坏或不是有效的WIM文件。(wimlib 代码 18)"},
      // What would fail the same way again is not retried.
      {LibraryChoice::SystemFirst, &kApply, failedWith(E::TargetNotWritable, 5), Failure{},
       {"system apply"}, "错误: 无法写入目标位置(拒绝访问或只读)。(wimgapi.dll 代码 5)"},
      {LibraryChoice::SystemFirst, &kApply, indexOutOfRange(3), Failure{}, {"system apply"},
       "错误: 映像编号超出范围,此文件共有 3 个映像。(wimgapi.dll)"},
      {LibraryChoice::SystemFirst, &kCapture, failedWith(E::Other, 31), Failure{}, {"system capture"},
       "错误: WIM映像操作失败。(wimgapi.dll 代码 31)"},
      // Forced, for tests.
      {LibraryChoice::SystemOnly, &kInfo, failedWith(E::LibraryMissing), Failure{}, {"system info"},
       "错误: 无法加载 wimgapi.dll,此系统不支持WIM映像操作。(wimgapi.dll)"},
      {LibraryChoice::WimlibOnly, &kApply, Failure{}, failedWith(E::DiskFull, 3), {"wimlib apply"},
       "错误: 磁盘空间不足。(wimlib 代码 3)"},
      {LibraryChoice::WimlibOnly, &kCapture, failedWith(E::Other), Failure{}, {"wimlib capture", "wimlib verify"}, ""},
  };
  for (const Case& k : cases) {
    log.clear();
    out = toolio::CapturedOut();
    system.next = k.systemResult;
    wimlib.next = k.wimlibResult;
    const std::string what = gbktest::toUtf8(k.lastLine) + " / " + (*k.args)[0];
    const int code = run(k.choice, *k.args);
    EXPECT_EQ(log, k.calls) << what;
    if (*k.lastLine) {
      EXPECT_EQ(code, 1) << what;
      EXPECT_TRUE(gbk::endsWith(out.text(), "\r\n" + std::string(k.lastLine) + "\r\n")) << gbktest::toUtf8(out.text());
    } else {
      EXPECT_EQ(code, 0) << what;
      // Which library did the work is nobody's business on success.
      EXPECT_FALSE(gbk::contains(out.text(), "wimlib", true)) << out.text();
      EXPECT_FALSE(gbk::contains(out.text(), "wimgapi", true)) << out.text();
    }
  }
}

// Whichever library wrote the image, wimlib reads it back, even with WIMGAPI forced.
TEST_F(Choice, ACaptureIsReadBackByWimlibWhicheverLibraryWroteIt) {
  wimlib.verified = failedWith(ErrorKind::WimCorrupt, 18);
  for (LibraryChoice choice : {LibraryChoice::SystemFirst, LibraryChoice::SystemOnly}) {
    log.clear();
    out = toolio::CapturedOut();
    EXPECT_EQ(run(choice, kCapture), 3);
    EXPECT_EQ(log, (std::vector<std::string>{"system capture", "wimlib verify"}));
    EXPECT_TRUE(gbk::endsWith(out.text(), "\r\n错误: 映像文件已写完,但读回检查没有通过,映像已损坏,不能用来还原！"
                                          "损坏的映像文件已保留,请重新备份。(wimlib 代码 18)\r\n"))
        << gbktest::toUtf8(out.text());
  }
}

TEST_F(Choice, InformationFromTheSecondLibraryCarriesNothingOfTheFirst) {
  system.next = failedWith(ErrorKind::WimCorrupt, 13);
  system.filled.imageCount = 7;
  system.filled.guid = "{system-guid}";
  wimlib.filled.imageCount = 2;
  EXPECT_EQ(run(LibraryChoice::SystemFirst, kInfo), 0);
  EXPECT_TRUE(gbk::contains(out.text(), "Image Count: 2\r\n")) << out.text();
  EXPECT_FALSE(gbk::contains(out.text(), "system-guid")) << out.text();
  EXPECT_FALSE(gbk::contains(out.text(), "Image Count: 7")) << out.text();
}

// Why wimgapi.dll cannot be used, as the loader reports it: wimlib takes over, and the
// user forced to the system's library reads the cause.
TEST_F(Choice, AnUnusableSystemLibraryIsNamedWithItsCauseAndWimlibTakesOver) {
  const struct {
    std::uint32_t code;
    const char* missingEntry;
    const char* line;
  } cases[] = {
      {126, "", "错误: 系统中没有 wimgapi.dll(找不到此文件),无法用它操作WIM映像。(wimgapi.dll)"},
      {193, "", "错误: 系统中的 wimgapi.dll 与本程序的位数(32/64位)不符,无法加载。(wimgapi.dll)"},
      {0, "WIMSetReferenceFile", "错误: 系统中的 wimgapi.dll 版本过旧,缺少函数 WIMSetReferenceFile,无法使用。(wimgapi.dll)"},
      {1114, "", "错误: 无法加载 wimgapi.dll,此系统不支持WIM映像操作。(wimgapi.dll 代码 1114)"},
  };
  for (const auto& k : cases) {
    system.next = libraryLoadFailure(k.code, k.missingEntry);
    wimlib.next = Failure{};
    log.clear();
    out = toolio::CapturedOut();
    EXPECT_EQ(run(LibraryChoice::SystemFirst, kApply), 0) << k.line;
    EXPECT_EQ(log, (std::vector<std::string>{"system apply", "wimlib apply"})) << k.line;
    out = toolio::CapturedOut();
    EXPECT_EQ(run(LibraryChoice::SystemOnly, kApply), 1) << k.line;
    EXPECT_TRUE(gbk::endsWith(out.text(), "\r\n" + std::string(k.line) + "\r\n")) << gbktest::toUtf8(out.text());
  }
  // Both fail: wimlib's cause, and the system's code where the loader gave one.
  system.next = libraryLoadFailure(1114, "");
  wimlib.next = failedWith(ErrorKind::WimCorrupt, 18);
  out = toolio::CapturedOut();
  EXPECT_EQ(run(LibraryChoice::SystemFirst, kInfo), 1);
  EXPECT_TRUE(gbk::endsWith(out.text(), "\r\n错误: 映像文件已损坏或不是有效的WIM文件。(wimgapi.dll 代码 1114; wimlib 代码 18)\r\n"))
      << gbktest::toUtf8(out.text());
}

TEST(LibraryChoiceVariable, ReadsTheThreeSettingsAndRefusesTheRest) {
  struct Case {
    const char* value;
    std::optional<LibraryChoice> choice;
  } cases[] = {
      {nullptr, LibraryChoice::SystemFirst}, {"", LibraryChoice::SystemFirst},
      {"Auto", LibraryChoice::SystemFirst},  {"wimgapi", LibraryChoice::SystemOnly},
      {"WIMLIB", LibraryChoice::WimlibOnly}, {"wimlib ", std::nullopt},
      {"libwim", std::nullopt},              {"wimgapi.dll", std::nullopt},
  };
  for (const Case& k : cases) EXPECT_EQ(parseLibraryChoice(k.value), k.choice) << (k.value ? k.value : "(unset)");
  EXPECT_EQ(libraryChoiceError(), "错误: 环境变量 VREL_WIM_LIBRARY 只能是 auto、wimgapi 或 wimlib。");
}

}  // namespace
}  // namespace wimengine
