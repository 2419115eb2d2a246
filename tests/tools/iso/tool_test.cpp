// The ISO tool's core: its command line, the names it refuses, the copy that leaves
// nothing behind on failure, and the mount flow with its fallback and "/q".
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>

#include "tools/common/command_line.h"
#include "tools/iso/tool.h"

namespace {

using iso::Request;

// ------------------------------------------------------------ command line

struct RequestCase {
  const char* tail;
  Request::Kind kind;
  char letter;
  const char* image;
  const char* folder;
};

TEST(IsoRequest, CommandLines) {
  const RequestCase cases[] = {
      // The program's own form: unquoted, blanks and all, to the end of the line.
      {"/D:Z /I:D:\\My ISOs\\win 10.iso", Request::Kind::Mount, 'Z', "D:\\My ISOs\\win 10.iso", ""},
      {"/D:Z /I:\"D:\\My ISOs\\win 10.iso\"", Request::Kind::Mount, 'Z', "D:\\My ISOs\\win 10.iso", ""},
      {"/d:y /i:C:\\a.iso  ", Request::Kind::Mount, 'Y', "C:\\a.iso", ""},
      {"/D:w: /I:C:\\a.iso", Request::Kind::Mount, 'W', "C:\\a.iso", ""},
      {"/q", Request::Kind::Unmount, 0, "", ""},
      {"  /Q  ", Request::Kind::Unmount, 0, "", ""},
      {"/X:\"D:\\out dir\" /I:\"C:\\a b.iso\"", Request::Kind::Extract, 0, "C:\\a b.iso", "D:\\out dir"},
      {"/I:\"C:\\a.iso\" /X:D:\\out", Request::Kind::Extract, 0, "C:\\a.iso", "D:\\out"},
      {"/L /I:a.iso", Request::Kind::List, 0, "a.iso", ""},
      {"", Request::Kind::Invalid, 0, "", ""},
      {"/D:Z", Request::Kind::Invalid, 0, "", ""},
      {"/I:a.iso", Request::Kind::Invalid, 0, "", ""},
      {"/D:ZZ /I:a.iso", Request::Kind::Invalid, 0, "", ""},
      {"/D:1 /I:a.iso", Request::Kind::Invalid, 0, "", ""},
      {"/D:Z /I:", Request::Kind::Invalid, 0, "", ""},
      {"/q /D:Z /I:a.iso", Request::Kind::Invalid, 0, "", ""},
      {"/D:Z /X:out /I:a.iso", Request::Kind::Invalid, 0, "", ""},
      {"/Z /I:a.iso", Request::Kind::Invalid, 0, "", ""},
      {"/qq", Request::Kind::Invalid, 0, "", ""},
      {"mount a.iso", Request::Kind::Invalid, 0, "", ""},
  };
  for (const RequestCase& c : cases) {
    SCOPED_TRACE(c.tail);
    Request r = iso::parseRequest(c.tail);
    EXPECT_EQ(r.kind, c.kind);
    if (c.kind == Request::Kind::Invalid) continue;
    EXPECT_EQ(r.letter, c.letter);
    EXPECT_EQ(r.image, c.image);
    EXPECT_EQ(r.folder, c.folder);
  }
}

TEST(IsoRequest, CommandTailKeepsTheArgumentsAsTyped) {
  const std::pair<const char*, const char*> cases[] = {
      {"\"C:\\Program Files\\ISO.exe\" /D:Z /I:a b.iso", "/D:Z /I:a b.iso"},
      {"ISO.exe   /q", "/q"},
      {"bcdboot.exe C:\\Windows /s S:  /l zh-cn ", "C:\\Windows /s S:  /l zh-cn "},
      {"ISO.exe", ""},
      {"\"unterminated", ""},
  };
  for (const auto& [line, tail] : cases) EXPECT_EQ(toolio::commandTail(std::string_view(line)), tail) << line;
}

// ------------------------------------------------------------ names and plan

TEST(IsoNames, SafeComponents) {
  for (const char* good : {"install.wim", "深层备份.gho", "a b", ".hidden.wim", "CONSOLE.wim", "COM10.gho"})
    EXPECT_TRUE(iso::safeComponent(good)) << good;
  for (const char* bad : {"", ".", "..", "a/b", "a\\b", "C:", "x.wim:stream", "CON", "con.wim", "NUL.gho",
                          "COM1.wim", "lpt9", "a\tb", "a?.wim", "a*", "trailing.", "trailing "})
    EXPECT_FALSE(iso::safeComponent(bad)) << bad;
}

TEST(IsoNames, ImageFilesByExtension) {
  EXPECT_TRUE(iso::isImageFileName("install.WIM"));
  EXPECT_TRUE(iso::isImageFileName("a.Gho"));
  EXPECT_FALSE(iso::isImageFileName("wim"));
  EXPECT_FALSE(iso::isImageFileName("a.wim.txt"));
  EXPECT_FALSE(iso::isImageFileName("a.esd"));
}

TEST(IsoNames, Decoders) {
  EXPECT_EQ(iso::stripIsoVersion("INSTALL.WIM;1"), "INSTALL.WIM");
  EXPECT_EQ(iso::stripIsoVersion("README.;1"), "README");
  EXPECT_EQ(iso::stripIsoVersion("plain"), "plain");
  // CRC-CCITT (XModem) of the usual check string.
  const char* check = "123456789";
  EXPECT_EQ(iso::udfCrc(reinterpret_cast<const unsigned char*>(check), 9), 0x31C3);
  std::string out;
  const unsigned char eight[] = {8, 'a', 0xE9};
  ASSERT_TRUE(iso::decodeOstaName(eight, sizeof eight, out));
  EXPECT_EQ(out, "a\xC3\xA9");
  const unsigned char sixteen[] = {16, 0x4E, 0x2D, 0x65, 0x87};  // 中文
  ASSERT_TRUE(iso::decodeOstaName(sixteen, sizeof sixteen, out));
  EXPECT_EQ(out, "\xE4\xB8\xAD\xE6\x96\x87");
  const unsigned char odd[] = {16, 0x4E};
  EXPECT_FALSE(iso::decodeOstaName(odd, sizeof odd, out));
  const unsigned char unknown[] = {7, 'a'};
  EXPECT_FALSE(iso::decodeOstaName(unknown, sizeof unknown, out));
}

iso::Node folder(std::string name, std::vector<iso::Node> children) {
  iso::Node n;
  n.name = std::move(name);
  n.directory = true;
  n.children = std::move(children);
  return n;
}

iso::Node file(std::string name, std::uint64_t offset, std::uint64_t size) {
  iso::Node n;
  n.name = std::move(name);
  n.regular = true;
  n.size = size;
  if (size) n.extents.push_back({offset, size, false});
  return n;
}

bool images(const iso::Node& n) { return iso::isImageFileName(n.name); }

TEST(IsoPlan, OnlyFoldersThatHoldWantedFilesParentsFirst) {
  iso::Node root = folder("", {folder("sources", {file("install.wim", 0, 10), file("setup.exe", 0, 5)}),
                               folder("empty", {folder("deeper", {file("x.txt", 0, 1)})}),
                               folder("a", {folder("b", {file("c.gho", 0, 3)}), file("d.wim", 0, 4)})});
  iso::Plan plan = iso::planExtraction(root, images);
  ASSERT_EQ(plan.problem, iso::Problem::None);
  EXPECT_EQ(plan.folders, (std::vector<std::string>{"sources", "a", "a/b"}));
  ASSERT_EQ(plan.files.size(), 3u);
  EXPECT_EQ(plan.files[0].path, "sources/install.wim");
  EXPECT_EQ(plan.files[1].path, "a/b/c.gho");
  EXPECT_EQ(plan.files[2].path, "a/d.wim");
  EXPECT_EQ(plan.totalBytes, 17u);
}

TEST(IsoPlan, UnsafeNamesBlockOnlyWhenTheyLeadToAWantedFile) {
  iso::Node harmless = folder("", {folder("..", {file("notes.txt", 0, 1)}), file("ok.wim", 0, 1)});
  EXPECT_EQ(iso::planExtraction(harmless, images).problem, iso::Problem::None);
  iso::Node badFolder = folder("", {file("ok.wim", 0, 1), folder("..", {file("evil.wim", 0, 1)})});
  iso::Plan plan = iso::planExtraction(badFolder, images);
  EXPECT_EQ(plan.problem, iso::Problem::UnsafeName);
  EXPECT_TRUE(plan.files.empty());  // nothing at all is copied, not even ok.wim
  iso::Node badFile = folder("", {file("C:x.wim", 0, 1)});
  EXPECT_EQ(iso::planExtraction(badFile, images).problem, iso::Problem::UnsafeName);
}

// ------------------------------------------------------------ copy

class MemoryImage : public iso::ImageSource {
 public:
  explicit MemoryImage(std::string bytes) : bytes_(std::move(bytes)) {}
  std::uint64_t size() const override { return bytes_.size(); }
  bool read(std::uint64_t offset, void* buffer, std::size_t length) override {
    if (offset + length > bytes_.size() || offset == failAt) return false;
    std::memcpy(buffer, bytes_.data() + offset, length);
    return true;
  }
  std::uint64_t failAt = UINT64_MAX;

 private:
  std::string bytes_;
};

// A folder in memory that can be told to fail, and remembers holes apart from data.
class MemoryFolder : public iso::OutputTree {
 public:
  struct File {
    std::string data;
    std::uint64_t holeBytes = 0;
  };
  class Out : public iso::OutputFile {
   public:
    Out(MemoryFolder& f, std::string path) : folder_(f), path_(std::move(path)) {}
    bool write(const void* data, std::size_t length) override {
      if (folder_.failWrites) return false;
      File& file = folder_.files[path_];
      file.data.resize(position_);
      file.data.append(static_cast<const char*>(data), length);
      position_ += length;
      return true;
    }
    bool skipZeros(std::uint64_t length) override {
      folder_.files[path_].holeBytes += length;
      position_ += length;
      return true;
    }
    bool finish(std::uint64_t size) override {
      folder_.files[path_].data.resize(size);
      return true;
    }
    // As the kernel's file-to-file copy: only when the folder offers it, and nothing
    // done when the image cannot be read there.
    bool copyFrom(iso::ImageSource& image, std::uint64_t offset, std::size_t length) override {
      std::string bytes(length, '\0');
      if (!folder_.systemCopies || !image.read(offset, bytes.data(), length)) return false;
      folder_.systemCopied += length;
      return write(bytes.data(), length);
    }

   private:
    MemoryFolder& folder_;
    std::string path_;
    std::uint64_t position_ = 0;
  };

  bool folderExists(const std::string& p) override { return folders.count(p) > 0; }
  bool createFolder(const std::string& p) override {
    folders.insert(p);
    return true;
  }
  std::unique_ptr<iso::OutputFile> createFile(const std::string& p) override {
    if (refuseCreate.count(p)) return nullptr;
    files[p] = File{};
    return std::make_unique<Out>(*this, p);
  }
  bool replaceFile(const std::string& from, const std::string& to) override {
    files[to] = files[from];
    files.erase(from);
    return true;
  }
  bool removeFile(const std::string& p) override { return files.erase(p) > 0; }
  void removeFolder(const std::string& p) override { folders.erase(p); }
  std::uint64_t freeBytes() override { return free; }

  std::set<std::string> folders;
  std::map<std::string, File> files;
  std::set<std::string> refuseCreate;
  bool failWrites = false;
  bool systemCopies = false;
  std::uint64_t systemCopied = 0;
  std::uint64_t free = UINT64_MAX;
};

// What a copy reported; it asks to stop once it has reported `stopAfter` times.
struct Watcher : toolio::Progress {
  std::vector<std::uint64_t> done;
  std::vector<std::string> items;
  std::size_t stopAfter = SIZE_MAX;
  void report(std::uint64_t d, std::uint64_t, std::int64_t) override { done.push_back(d); }
  void item(const std::string& name) override { items.push_back(name); }
  bool stopRequested() const override { return done.size() >= stopAfter; }
};

struct CopyFixture : ::testing::Test {
  // Image bytes: "AAAA" at 0, a 4 MiB + 3 run of zeros at 4, "BB" after it.
  CopyFixture() : image(std::string("AAAA") + std::string((4u << 20) + 3, '\0') + "BB") {
    iso::Node zeros = file("z.wim", 4, (4u << 20) + 3);
    iso::Node pieces = file("p.gho", 0, 4);
    pieces.extents.push_back({0, 7, true});  // an unrecorded UDF extent
    pieces.extents.push_back({4 + (4u << 20) + 3, 2, false});
    pieces.size = 13;
    iso::Node embedded;
    embedded.name = "e.wim";
    embedded.regular = true;
    embedded.embedded = "inline";
    embedded.size = 6;
    root = folder("", {folder("sub", {zeros, pieces}), embedded, file("later.wim", 0, 2)});
    plan = iso::planExtraction(root, images);
  }
  MemoryImage image;
  iso::Node root;
  iso::Plan plan;
  MemoryFolder out;
  toolio::NoProgress unwatched;
};

TEST_F(CopyFixture, CopiesDataHolesAndEmbeddedBytesExactly) {
  Watcher watcher;
  iso::CopyOutcome r = iso::copyPlan(image, plan, out, watcher);
  const std::vector<std::uint64_t>& seen = watcher.done;
  ASSERT_EQ(r.problem, iso::Problem::None);
  EXPECT_EQ(r.filesCopied, 4u);
  EXPECT_EQ(out.files["sub/z.wim"].data, std::string((4u << 20) + 3, '\0'));
  EXPECT_EQ(out.files["sub/z.wim"].holeBytes, (4u << 20) + 3);  // zero chunks are not written
  EXPECT_EQ(out.files["sub/p.gho"].data, std::string("AAAA") + std::string(7, '\0') + "BB");
  EXPECT_EQ(out.files["e.wim"].data, "inline");
  EXPECT_EQ(out.files["later.wim"].data, "AA");
  EXPECT_EQ(out.files.size(), 4u);  // no scratch file left
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), plan.totalBytes);
  for (std::size_t i = 1; i < seen.size(); ++i) EXPECT_LE(seen[i - 1], seen[i]);
  EXPECT_EQ(watcher.items, (std::vector<std::string>{"sub/z.wim", "sub/p.gho", "e.wim", "later.wim"}));
}

// The system's copy takes every byte of data and nothing else: holes and unrecorded
// extents are still skipped, embedded bytes still written; a failure it cannot
// name is named by the ordinary read.
TEST_F(CopyFixture, WhereTheSystemCopiesFileToFileOnlyTheDataGoesThatWay) {
  out.systemCopies = true;
  ASSERT_EQ(iso::copyPlan(image, plan, out, unwatched).problem, iso::Problem::None);
  EXPECT_EQ(out.systemCopied, (4u << 20) + 3 + 4 + 2 + 2);
  EXPECT_EQ(out.files["sub/z.wim"].data, std::string((4u << 20) + 3, '\0'));
  EXPECT_EQ(out.files["sub/p.gho"].data, std::string("AAAA") + std::string(7, '\0') + "BB");
  EXPECT_EQ(out.files["sub/p.gho"].holeBytes, 7u);
  EXPECT_EQ(out.files["e.wim"].data, "inline");

  MemoryFolder unread;
  unread.systemCopies = true;
  image.failAt = 0;
  EXPECT_EQ(iso::copyPlan(image, plan, unread, unwatched).problem, iso::Problem::ImageUnreadable);
  EXPECT_TRUE(unread.files.empty());
}

TEST_F(CopyFixture, AFailureLeavesTheTargetAsItWas) {
  out.folders.insert("unrelated");
  out.refuseCreate.insert("later.wim.vrelpart");
  EXPECT_EQ(iso::copyPlan(image, plan, out, unwatched).problem, iso::Problem::WriteFailed);
  EXPECT_TRUE(out.files.empty());
  EXPECT_EQ(out.folders, std::set<std::string>{"unrelated"});

  MemoryFolder failing;
  failing.failWrites = true;
  EXPECT_EQ(iso::copyPlan(image, plan, failing, unwatched).problem, iso::Problem::WriteFailed);
  EXPECT_TRUE(failing.files.empty());
  EXPECT_TRUE(failing.folders.empty());

  MemoryFolder unread;
  image.failAt = 0;
  EXPECT_EQ(iso::copyPlan(image, plan, unread, unwatched).problem, iso::Problem::ImageUnreadable);
  EXPECT_TRUE(unread.files.empty());
}

TEST_F(CopyFixture, CancelAndFullDisk) {
  Watcher stopping;
  stopping.stopAfter = 3;
  EXPECT_EQ(iso::copyPlan(image, plan, out, stopping).problem, iso::Problem::Cancelled);
  EXPECT_TRUE(out.files.empty());
  MemoryFolder small;
  small.free = plan.totalBytes - 1;
  EXPECT_EQ(iso::copyPlan(image, plan, small, unwatched).problem, iso::Problem::DiskFull);
  EXPECT_TRUE(small.folders.empty());
}

TEST(IsoCopy, AnExtentListShorterThanTheSizeIsRefused) {
  MemoryImage image("abcd");
  iso::Node broken = file("x.wim", 0, 4);
  broken.size = 10;
  iso::Node root = folder("", {broken});
  MemoryFolder out;
  toolio::NoProgress unwatched;
  EXPECT_EQ(iso::copyPlan(image, iso::planExtraction(root, images), out, unwatched).problem, iso::Problem::ImageCorrupt);
  EXPECT_TRUE(out.files.empty());
}

// ------------------------------------------------------------ mount flow

TEST(IsoMountRecords, RoundTripAndDamagedLines) {
  std::vector<iso::MountRecord> records = {{iso::MountRecord::Kind::VirtualDisk, 'Z', "D:\\a b.iso"},
                                           {iso::MountRecord::Kind::CopiedFolder, 'Y', "D:\\VrelISO_a"}};
  std::vector<iso::MountRecord> back = iso::parseMountRecords(iso::formatMountRecords(records));
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].kind, iso::MountRecord::Kind::VirtualDisk);
  EXPECT_EQ(back[0].path, "D:\\a b.iso");
  EXPECT_EQ(back[1].letter, 'Y');
  EXPECT_TRUE(iso::parseMountRecords("garbage\nattach\t?\tx\nother\tZ\tx\nattach\tz").empty());
  EXPECT_EQ(iso::parseMountRecords("attach\tz\tC:\\x.iso\r\n").at(0).letter, 'Z');
}

// A small UDF-free ISO 9660 image is out of reach here; the fake reports images
// unreadable unless the test installs one, and mounts by the rules it is given.
class FakeBackend : public iso::Backend {
 public:
  bool fileExists(const std::string& path) override { return path == "C:\\win.iso"; }
  std::unique_ptr<iso::ImageSource> openImage(const std::string&) override {
    return image.empty() ? nullptr : std::make_unique<MemoryImage>(image);
  }
  std::unique_ptr<iso::OutputTree> openFolder(const std::string& path) override {
    log.push_back("open " + path);
    if (unwritable.count(path)) return nullptr;
    return std::make_unique<MemoryFolder>();
  }
  void removeTree(const std::string& path) override { log.push_back("remove " + path); }
  bool letterInUse(char letter) override { return used.count(letter) > 0; }
  bool attachIso(char letter, const std::string& path) override {
    log.push_back(std::string("attach ") + letter + " " + path);
    return attachWorks;
  }
  void detachIso(char letter, const std::string& path) override {
    log.push_back(std::string("detach ") + letter + " " + path);
  }
  std::vector<std::string> copyFolderCandidates(const std::string&) override {
    return {"C:\\VrelISO_win", "X:\\Temp\\VrelISO_win"};
  }
  bool mapLetter(char letter, const std::string& path) override {
    log.push_back(std::string("map ") + letter + " " + path);
    return mapWorks;
  }
  void unmapLetter(char letter, const std::string& path) override {
    log.push_back(std::string("unmap ") + letter + " " + path);
  }
  bool canMount() override { return true; }
  std::string readMountRecords() override { return records; }
  bool writeMountRecords(const std::string& text) override {
    records = text;
    return true;
  }

  std::string image;
  std::string records;
  std::set<char> used;
  std::set<std::string> unwritable;
  bool attachWorks = true;
  bool mapWorks = true;
  std::vector<std::string> log;
};

// The smallest ISO 9660 volume: a primary descriptor, a terminator, an empty root.
std::string emptyIso() {
  std::string img(20 * 2048, '\0');
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
      img[at + i] = char(v >> (8 * i));
      img[at + 7 - i] = char(v >> (8 * i));
    }
  };
  std::size_t pvd = 16 * 2048;
  img[pvd] = 1;
  std::memcpy(&img[pvd + 1], "CD001", 5);
  img[pvd + 156] = 34;
  put32(pvd + 156 + 2, 18);
  put32(pvd + 156 + 10, 2048);
  img[pvd + 156 + 25] = 2;
  img[pvd + 156 + 32] = 1;
  std::size_t term = 17 * 2048;
  img[term] = char(255);
  std::memcpy(&img[term + 1], "CD001", 5);
  std::size_t root = 18 * 2048;
  for (int i = 0; i < 2; ++i) {
    img[root + 34 * i] = 34;
    put32(root + 34 * i + 2, 18);
    put32(root + 34 * i + 10, 2048);
    img[root + 34 * i + 25] = 2;
    img[root + 34 * i + 32] = 1;
    img[root + 34 * i + 33] = char(i);
  }
  return img;
}

TEST(IsoMount, AttachFirstAndQuitUndoesExactlyThat) {
  FakeBackend b;
  toolio::CapturedOut out;
  EXPECT_EQ(iso::runIsoTool("/D:Z /I:C:\\win.iso", b, out), 0);
  EXPECT_EQ(out.text(), "");
  EXPECT_EQ(b.log, (std::vector<std::string>{"attach Z C:\\win.iso"}));
  b.log.clear();
  EXPECT_EQ(iso::runIsoTool("/q", b, out), 0);
  EXPECT_EQ(b.log, (std::vector<std::string>{"detach Z C:\\win.iso"}));
  EXPECT_EQ(b.records, "");
  b.log.clear();
  EXPECT_EQ(iso::runIsoTool("/q", b, out), 0);  // nothing mounted: silent success
  EXPECT_TRUE(b.log.empty());
  EXPECT_EQ(out.text(), "");
}

TEST(IsoMount, FallbackCopiesBesideTheIsoThenTheTempFolder) {
  FakeBackend b;
  b.attachWorks = false;
  b.image = emptyIso();
  b.unwritable.insert("C:\\VrelISO_win");
  toolio::CapturedOut out;
  EXPECT_EQ(iso::runIsoTool("/D:Y /I:\"C:\\win.iso\"", b, out), 0) << out.text();
  EXPECT_EQ(b.log, (std::vector<std::string>{"attach Y C:\\win.iso", "open C:\\VrelISO_win", "remove C:\\VrelISO_win",
                                             "open X:\\Temp\\VrelISO_win", "map Y X:\\Temp\\VrelISO_win"}));
  b.log.clear();
  EXPECT_EQ(iso::runIsoTool("/q", b, out), 0);
  EXPECT_EQ(b.log, (std::vector<std::string>{"unmap Y X:\\Temp\\VrelISO_win", "remove X:\\Temp\\VrelISO_win"}));
}

TEST(IsoMount, FailuresSayWhyAndLeaveNothingRecorded) {
  toolio::CapturedOut out;
  FakeBackend mapFails;
  mapFails.attachWorks = false;
  mapFails.mapWorks = false;
  mapFails.image = emptyIso();
  EXPECT_EQ(iso::runIsoTool("/D:Y /I:C:\\win.iso", mapFails, out), 1);
  EXPECT_EQ(mapFails.log.back(), "remove C:\\VrelISO_win");  // the copies go again
  EXPECT_EQ(mapFails.records, "");
  EXPECT_EQ(out.text(), "错误: 无法挂载ISO镜像。\r\n");

  FakeBackend unreadable;
  unreadable.attachWorks = false;
  toolio::CapturedOut out2;
  EXPECT_EQ(iso::runIsoTool("/D:Y /I:C:\\win.iso", unreadable, out2), 1);
  EXPECT_EQ(out2.text(), "错误: 无法读取ISO镜像文件。\r\n");

  FakeBackend inUse;
  inUse.used.insert('W');
  toolio::CapturedOut out3;
  EXPECT_EQ(iso::runIsoTool("/D:W /I:C:\\win.iso", inUse, out3), 1);
  EXPECT_EQ(out3.text(), "错误: 盘符已被占用。\r\n");
  EXPECT_TRUE(inUse.log.empty());
  EXPECT_EQ(inUse.records, "");

  FakeBackend missing;
  toolio::CapturedOut out4;
  EXPECT_EQ(iso::runIsoTool("/D:W /I:C:\\other.iso", missing, out4), 1);
  EXPECT_EQ(out4.text(), "错误: 找不到ISO镜像文件。\r\n");

  toolio::CapturedOut out5;
  EXPECT_EQ(iso::runIsoTool("/D:W", missing, out5), 2);
  EXPECT_EQ(out5.text(), "错误: 命令行无效。用法: ISO.exe /D:盘符 /I:\"ISO文件\",ISO.exe /q,ISO.exe /X:\"文件夹\" /I:\"ISO文件\"\r\n");
}

TEST(IsoMount, MountingAgainOnItsOwnLetterReplacesTheEarlierMount) {
  FakeBackend b;
  b.records = "copies\tZ\tC:\\VrelISO_old\n";
  b.used.insert('Z');  // held by the earlier mount until it is undone
  struct ReleasingBackend : FakeBackend {};
  toolio::CapturedOut out;
  // The fake keeps Z in use, so the new mount is refused after the old one is undone.
  EXPECT_EQ(iso::runIsoTool("/D:Z /I:C:\\win.iso", b, out), 1);
  EXPECT_EQ(b.log, (std::vector<std::string>{"unmap Z C:\\VrelISO_old", "remove C:\\VrelISO_old"}));
  EXPECT_EQ(b.records, "");
}

TEST(IsoMount, OnlyFoldersOfCopiesAreEverRemoved) {
  FakeBackend b;
  b.records = "copies\tZ\tC:\\Windows\n";  // a damaged or planted record
  toolio::CapturedOut out;
  EXPECT_EQ(iso::runIsoTool("/q", b, out), 0);
  EXPECT_EQ(b.log, (std::vector<std::string>{"unmap Z C:\\Windows"}));
}

}  // namespace
