#include "tools/wimengine/engine.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "platform/gbk.h"
#include "tests/support/gbk_text.h"
#include "tests/tools/wimengine/wim_header_bytes.h"

namespace wimengine {
namespace {

// A backend over an in-memory file table; each operation's result is scripted.
struct FakeBackend : Backend {
  std::map<std::string, std::string> files;
  std::set<std::string> directories{"C:\\", "E:\\ImagexTemp"};
  std::set<std::string> specials;  // devices and pipes
  Failure next = Failure{};
  Failure verified = Failure{};
  std::vector<std::string> verifiedPaths;
  WimSummary summary;
  std::vector<double> progressSteps{0.5};
  CaptureRequest lastCapture;
  Command lastApply;
  std::int64_t clock = 0;

  Failure readInfo(const std::string&, WimSummary& out) override {
    out = summary;
    return next;
  }
  Failure apply(const Command& command, toolio::Progress& progress) override {
    lastApply = command;
    for (double f : progressSteps) {
      clock += 1000;
      progress.report(std::uint64_t(f * 1000), 1000);
    }
    return next;
  }
  Failure capture(const CaptureRequest& request, toolio::Progress& progress) override {
    lastCapture = request;
    files[request.wimPath] = "partial";
    for (double f : progressSteps) {
      clock += 1000;
      progress.report(std::uint64_t(f * 1000), 1000);
    }
    if (!next) files[request.wimPath] = "image";
    return next;
  }
  Failure verifyImage(const std::string& path) override {
    verifiedPaths.push_back(path + " holding " + (files.count(path) ? files[path] : "nothing"));
    return verified;
  }
  bool isDirectory(const std::string& path) override { return directories.count(path) > 0; }
  bool fileExists(const std::string& path) override { return files.count(path) > 0 || specials.count(path) > 0; }
  bool isSpecialFile(const std::string& path) override { return specials.count(path) > 0; }
  bool removeFile(const std::string& path) override { return files.erase(path) > 0; }
  bool replaceFile(const std::string& from, const std::string& to) override {
    if (!files.count(from) || directories.count(to)) return false;
    files[to] = files[from];
    files.erase(from);
    return true;
  }
  std::int64_t nowMs() override { return clock; }
  std::string readFileStart(const std::string& path, std::size_t size) override {
    auto found = files.find(path);
    return found == files.end() ? std::string() : found->second.substr(0, size);
  }
  // Files of the pattern's folder whose names match, in name order.
  std::vector<std::string> matchingFiles(const std::string& pattern) override {
    const std::size_t slash = pattern.rfind('\\');
    const std::string folder = pattern.substr(0, slash + 1);
    std::vector<std::string> found;
    for (const auto& [path, content] : files) {
      if (path.compare(0, folder.size(), folder) != 0) continue;
      const std::string name = path.substr(folder.size());
      if (name.find('\\') == std::string::npos && wildcardMatch(pattern.substr(slash + 1), name)) found.push_back(path);
    }
    return found;
  }
};

using testing_bytes::wimHeader;

struct EngineFixture : ::testing::Test {
  FakeBackend backend;
  toolio::CapturedOut out;
  int run(std::vector<std::string> args) { return runEngine(args, backend, out); }
  bool saysSuccess() const { return gbk::contains(out.text(), "successfully", true); }
};

const std::vector<std::string> kCapture = {"/capture", "C:", "E:\\bak.wim", "Successfully named", "desc",
                                           "/flags", "    ", "/compress", "fast", "/temp", "E:\\ImagexTemp"};

TEST_F(EngineFixture, CaptureWritesAScratchFileAndRenamesItOnSuccess) {
  backend.files["E:\\bak.wim"] = "older backup";
  EXPECT_EQ(run(kCapture), 0);
  EXPECT_EQ(backend.files["E:\\bak.wim"], "image");
  EXPECT_EQ(backend.files.size(), 1u);
  EXPECT_EQ(backend.lastCapture.wimPath, "E:\\bak.wim.vrelpart");
  EXPECT_EQ(backend.lastCapture.compression, Compression::Fast);
  EXPECT_EQ(backend.lastCapture.tempDir, "E:\\ImagexTemp");
  EXPECT_TRUE(gbk::endsWith(out.text(),
                            "[  50% ] Capturing progress\r\n[ 100% ] Capturing progress\r\n\r\n"
                            "Successfully imaged C:\r\n\r\nTotal elapsed time: 1 sec\r\n"))
      << out.text();
}

TEST_F(EngineFixture, FailedCaptureLeavesNoFileAndKeepsAnOlderOne) {
  struct Case {
    bool olderExists;
    Failure outcome;
    const char* line;
  } cases[] = {
      {false, failedWith(ErrorKind::DiskFull, 112), "错误: 磁盘空间不足。(代码 112)"},
      {true, failedWith(ErrorKind::SourceUnreadable), "错误: 无法读取要备份的文件(拒绝访问或文件正被使用)。"},
  };
  for (const Case& k : cases) {
    backend.files.clear();
    if (k.olderExists) backend.files["E:\\bak.wim"] = "older backup";
    backend.next = k.outcome;
    out = toolio::CapturedOut();
    EXPECT_EQ(run(kCapture), 1);
    EXPECT_FALSE(saysSuccess()) << out.text();
    EXPECT_TRUE(gbk::endsWith(out.text(), std::string(k.line) + "\r\n")) << gbktest::toUtf8(out.text());
    EXPECT_FALSE(backend.fileExists("E:\\bak.wim.vrelpart"));
    EXPECT_EQ(backend.fileExists("E:\\bak.wim"), k.olderExists);
  }
}

// The whole image was written, then did not read back: the user keeps it to look at
// (and learns it is damaged); an older backup of that name gives way to it, as it
// would to a good one.
TEST_F(EngineFixture, AnImageThatFailsTheReadBackIsKeptAndNamedDamaged) {
  EXPECT_EQ(run(kCapture), 0);
  EXPECT_EQ(backend.verifiedPaths, std::vector<std::string>{"E:\\bak.wim.vrelpart holding image"})
      << "checked before it takes its name";
  for (bool olderExists : {false, true}) {
    backend.files.clear();
    if (olderExists) backend.files["E:\\bak.wim"] = "older backup";
    backend.verified = failedWith(ErrorKind::WimCorrupt, 47);
    out = toolio::CapturedOut();
    EXPECT_EQ(run(kCapture), 3);
    EXPECT_FALSE(saysSuccess()) << out.text();
    EXPECT_TRUE(gbk::endsWith(out.text(), "\r\n错误: 映像文件已写完,但读回检查没有通过,映像已损坏,不能用来还原！"
                                          "损坏的映像文件已保留,请重新备份。(代码 47)\r\n"))
        << gbktest::toUtf8(out.text());
    EXPECT_EQ(backend.files, (std::map<std::string, std::string>{{"E:\\bak.wim", "image"}}));
  }
  // A failed write is never checked, and leaves nothing.
  backend.files.clear();
  backend.verifiedPaths.clear();
  backend.next = failedWith(ErrorKind::DiskFull, 112);
  EXPECT_EQ(run(kCapture), 1);
  EXPECT_TRUE(backend.verifiedPaths.empty());
  EXPECT_TRUE(backend.files.empty());
}

TEST_F(EngineFixture, CaptureRefusesAMissingTempFolderOrADirectoryAsDestination) {
  std::vector<std::string> args = kCapture;
  args.back() = "E:\\NoSuchTemp";
  EXPECT_EQ(run(args), 1);
  EXPECT_TRUE(gbk::contains(out.text(), "临时目录"));
  backend.directories.insert("E:\\bak.wim");
  EXPECT_EQ(run(kCapture), 1);
  EXPECT_FALSE(saysSuccess());
  EXPECT_TRUE(backend.lastCapture.wimPath.empty());  // never started
}

// A device or a pipe is never read as a WIM (a pipe would block the open for ever)
// nor replaced by one.
TEST_F(EngineFixture, DevicesAndPipesAreNeitherReadNorReplaced) {
  backend.specials = {"NUL", "E:\\pipe.wim"};
  std::vector<std::string> capture = kCapture;
  capture[2] = "NUL";
  EXPECT_EQ(run(capture), 1);
  EXPECT_TRUE(gbk::endsWith(out.text(), "错误: 目标映像文件的路径已存在且不是普通文件(是设备、管道或其他特殊文件),不能用映像替换它。\r\n"))
      << gbktest::toUtf8(out.text());
  EXPECT_TRUE(backend.lastCapture.wimPath.empty()) << "never started";
  EXPECT_TRUE(backend.files.empty());
  for (std::vector<std::string> args : {std::vector<std::string>{"/info", "E:\\pipe.wim"},
                                        std::vector<std::string>{"/apply", "E:\\pipe.wim", "1", "C:"}}) {
    out = toolio::CapturedOut();
    EXPECT_EQ(run(args), 1);
    EXPECT_TRUE(gbk::endsWith(out.text(), "错误: 映像文件路径不是普通文件(是设备、管道或其他特殊文件)。\r\n"))
        << gbktest::toUtf8(out.text());
  }
  EXPECT_EQ(backend.lastApply.wimPath, "") << "the library never saw it";
}

TEST_F(EngineFixture, CaptureStartsOverAStaleScratchFile) {
  backend.files["E:\\bak.wim.vrelpart"] = "left by a killed run";
  backend.next = failedWith(ErrorKind::Other);
  EXPECT_EQ(run(kCapture), 1);
  EXPECT_TRUE(backend.files.empty());
}

TEST_F(EngineFixture, ApplyOutcomes) {
  backend.progressSteps = {0.25, 0.5, 1.0};
  EXPECT_EQ(run({"/apply", "D:\\successfully.wim", "2", "C:"}), 0);
  EXPECT_EQ(backend.lastApply.index, 2u);
  EXPECT_TRUE(gbk::endsWith(out.text(), "[ 100% ] Applying progress\r\n\r\nSuccessfully applied image.\r\n\r\n"
                                        "Total elapsed time: 3 sec\r\n"))
      << out.text();

  // A failure must not contain the word in any letter case, even from the file name.
  out = toolio::CapturedOut();
  backend.next = indexOutOfRange(3);
  EXPECT_EQ(run({"/apply", "D:\\successfully.wim", "4", "C:"}), 1);
  EXPECT_FALSE(saysSuccess()) << out.text();
  EXPECT_TRUE(gbk::endsWith(out.text(), "错误: 映像编号超出范围,此文件共有 3 个映像。\r\n"))
      << gbktest::toUtf8(out.text());
}

// A folder as the image and a file as the target are named as what they are, and
// the backend is never asked (the libraries would call them damaged or missing).
TEST_F(EngineFixture, FolderImageAndFileTargetAreNamed) {
  backend.directories.insert("D:\\images.wim");
  backend.files["D:\\notes.txt"] = "text";
  const struct {
    std::vector<std::string> args;
    const char* line;
  } cases[] = {
      {{"/info", "D:\\images.wim"}, "错误: 映像文件路径是一个文件夹,不是WIM文件。\r\n"},
      {{"/apply", "D:\\images.wim", "1", "C:"}, "错误: 映像文件路径是一个文件夹,不是WIM文件。\r\n"},
      {{"/apply", "D:\\a.wim", "1", "D:\\notes.txt"}, "错误: 目标路径是一个文件,不是文件夹或分区。\r\n"},
  };
  for (const auto& c : cases) {
    out = toolio::CapturedOut();
    EXPECT_EQ(run(c.args), 1);
    EXPECT_TRUE(gbk::endsWith(out.text(), c.line)) << gbktest::toUtf8(out.text());
  }
  EXPECT_TRUE(backend.lastApply.wimPath.empty());
  // A drive given as "C:" is its root folder.
  out = toolio::CapturedOut();
  EXPECT_EQ(run({"/apply", "D:\\a.wim", "1", "C:"}), 0);
}

struct SplitSetFixture : EngineFixture {
  void SetUp() override {
    backend.files["D:\\sources\\install.swm"] = wimHeader(7, 1, 3);
    backend.files["D:\\sources\\install2.swm"] = wimHeader(7, 2, 3);
    backend.files["D:\\sources\\install3.swm"] = wimHeader(7, 3, 3);
    backend.files["D:\\sources\\install.wim"] = wimHeader(9, 1, 1);
    backend.files["D:\\sources\\install-old.swm"] = wimHeader(8, 2, 2);
  }
  int apply(const char* image, std::vector<std::string> refs) {
    std::vector<std::string> args{"/apply", image, "1", "C:"};
    for (const std::string& ref : refs) {
      args.push_back("/ref");
      args.push_back(ref);
    }
    out = toolio::CapturedOut();
    backend.lastApply = Command{};
    return run(args);
  }
};

// The pattern matches the first part and a file of another set too; both are passed over.
TEST_F(SplitSetFixture, OtherPartsGoToTheBackendInPartOrder) {
  EXPECT_EQ(apply("D:\\sources\\install.swm", {"D:\\sources\\install*.swm"}), 0) << gbktest::toUtf8(out.text());
  EXPECT_EQ(backend.lastApply.otherParts,
            (std::vector<std::string>{"D:\\sources\\install2.swm", "D:\\sources\\install3.swm"}));
  // Several /ref, each naming one part, in any order.
  EXPECT_EQ(apply("D:\\sources\\install.swm", {"D:\\sources\\INSTALL3.SWM", "D:\\sources\\install2.swm"}), 0);
  EXPECT_EQ(backend.lastApply.otherParts,
            (std::vector<std::string>{"D:\\sources\\install2.swm", "D:\\sources\\install3.swm"}));
  // A whole WIM needs no parts, whatever /ref says.
  EXPECT_EQ(apply("D:\\sources\\install.wim", {"D:\\sources\\install*.swm"}), 0);
  EXPECT_TRUE(backend.lastApply.otherParts.empty());
}

TEST_F(SplitSetFixture, IncompleteSetsFailBeforeTheBackendIsAsked) {
  const struct {
    const char* image;
    std::vector<std::string> refs;
    const char* removed;
    std::pair<const char*, std::string> replaced;
    const char* line;
  } cases[] = {
      {"D:\\sources\\install.swm", {"D:\\sources\\install*.swm"}, "D:\\sources\\install3.swm", {},
       "错误: 拆分映像共 3 个分卷,缺少第 3 个分卷 install3.swm。请把全部分卷放在同一文件夹,并用 /ref 指定。\r\n"},
      {"D:\\sources\\install.swm", {}, nullptr, {},
       "错误: 拆分映像共 3 个分卷,缺少第 2 个分卷 install2.swm。请把全部分卷放在同一文件夹,并用 /ref 指定。\r\n"},
      {"D:\\sources\\install.swm", {"D:\\sources\\install*.swm"}, nullptr,
       {"D:\\sources\\install2.swm", wimHeader(8, 2, 3)},
       "错误: 分卷 install2.swm 不属于这个拆分映像(来自另一个映像)。\r\n"},
      {"D:\\sources\\install2.swm", {"D:\\sources\\install*.swm"}, nullptr, {},
       "错误: 这是拆分映像的第 2 个分卷(共 3 个),请选择第一个分卷 install.swm。\r\n"},
      // Without /ref the first part's name comes from the usual naming.
      {"D:\\sources\\install3.swm", {}, nullptr, {},
       "错误: 这是拆分映像的第 3 个分卷(共 3 个),请选择第一个分卷 install.swm。\r\n"},
  };
  for (const auto& c : cases) {
    SetUp();
    if (c.removed) backend.files.erase(c.removed);
    if (c.replaced.first) backend.files[c.replaced.first] = c.replaced.second;
    EXPECT_EQ(apply(c.image, c.refs), 1);
    EXPECT_TRUE(gbk::endsWith(out.text(), c.line)) << gbktest::toUtf8(out.text());
    EXPECT_FALSE(saysSuccess());
    EXPECT_EQ(out.text().find("Applying progress"), std::string::npos);
    EXPECT_TRUE(backend.lastApply.wimPath.empty());
  }
}

// A part's name goes into the error line, which must never carry the success word.
TEST_F(SplitSetFixture, APartNameWithTheSuccessWordIsLeftOut) {
  backend.files["D:\\x\\Successfully.swm"] = wimHeader(3, 1, 2);
  EXPECT_EQ(apply("D:\\x\\Successfully.swm", {}), 1);
  EXPECT_FALSE(saysSuccess()) << out.text();
  EXPECT_TRUE(gbk::endsWith(out.text(), "缺少第 2 个分卷 (文件名略)。请把全部分卷放在同一文件夹,并用 /ref 指定。\r\n"))
      << gbktest::toUtf8(out.text());
}

TEST_F(EngineFixture, ArgumentErrorsExitWithTwoBeforeAnyWork) {
  EXPECT_EQ(run({"/apply", "x.wim", "0", "C:"}), 2);
  EXPECT_TRUE(backend.lastApply.wimPath.empty());
  EXPECT_TRUE(gbk::startsWith(out.text(), "错误: 映像编号无效"));
  EXPECT_FALSE(saysSuccess());
}

TEST_F(EngineFixture, InfoBlockAsTheProgramReadsIt) {
  backend.summary.imageCount = 2;
  backend.summary.compression = "LZX";
  backend.summary.xmlUtf8 = "<WIM><IMAGE INDEX=\"1\"><NAME>a</NAME></IMAGE><IMAGE INDEX=\"2\"><NAME>b</NAME></IMAGE></WIM>";
  EXPECT_EQ(run({"/info", "D:\\x.wim"}), 0);
  const std::string& text = out.text();
  // The count line: its first 12 characters dropped, the rest read as a number.
  std::size_t at = text.find("Image Count:");
  ASSERT_NE(at, std::string::npos);
  EXPECT_TRUE(at == 0 || text[at - 1] == '\n');
  EXPECT_EQ(gbk::leadingInteger(text.substr(at + 12, text.find("\r\n", at) - at - 12)), 2);
  EXPECT_NE(text.find("\r\n    <NAME>a</NAME>\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\n    <NAME>b</NAME>\r\n"), std::string::npos);

  out = toolio::CapturedOut();
  backend.next = failedWith(ErrorKind::WimCorrupt, 9);
  EXPECT_EQ(run({"/info", "D:\\x.wim"}), 1);
  EXPECT_EQ(out.text().find("Image Count"), std::string::npos);
  EXPECT_TRUE(gbk::contains(out.text(), "映像文件已损坏"));
}

}  // namespace
}  // namespace wimengine
