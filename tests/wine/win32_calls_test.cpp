// The tools' Win32 calls through the seams below them: calls that answer as
// Microsoft documents them, for what Wine does not implement (the virtual-disk API).
#include <gtest/gtest.h>

#include <windows.h>
#include <winioctl.h>

#include <vector>

#include "tools/common/volumes_win32.h"
#include "tools/ghost/pipeline.h"
#include "tools/ghost/platform_files.h"
#include "tools/ghost/sync.h"
#include "tools/iso/mount_win32.h"

namespace {

// The virtual-disk API as its documentation describes an ISO attached by someone
// else: an open asking for ATTACH_RO fails while another handle holds more than
// DETACH or GET_INFO access; the detach fails while a file on the disk is open.
struct AttachedElsewhere {
  static inline std::vector<DWORD> opens;  // the access of every open, in order
  static inline bool fileOpenOnIt = false;
  static inline int detaches = 0;
  static DWORD WINAPI open(iso::VirtDiskStorageType*, PCWSTR, DWORD access, DWORD, void*, HANDLE* handle) {
    opens.push_back(access);
    if (access & 0x00010000) return ERROR_SHARING_VIOLATION;  // VIRTUAL_DISK_ACCESS_ATTACH_RO
    *handle = CreateEventA(nullptr, FALSE, FALSE, nullptr);  // any handle that closes
    return ERROR_SUCCESS;
  }
  static DWORD WINAPI detach(HANDLE, DWORD, ULONG) {
    ++detaches;
    return fileOpenOnIt ? ERROR_SHARING_VIOLATION : ERROR_SUCCESS;
  }
};

TEST(IsoDetach, OpensWithTheDetachAccessAloneAndReportsARefusedDetach) {
  iso::VirtDiskCalls calls;
  calls.open = AttachedElsewhere::open;
  calls.detach = AttachedElsewhere::detach;
  EXPECT_EQ(iso::detachIso(calls, "C:\\images\\win.iso"), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(AttachedElsewhere::opens, std::vector<DWORD>{0x00040000});
  EXPECT_EQ(AttachedElsewhere::detaches, 1);

  AttachedElsewhere::fileOpenOnIt = true;
  EXPECT_EQ(iso::detachIso(calls, "C:\\images\\win.iso"), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(AttachedElsewhere::detaches, 2);
}

TEST(IsoDetach, WinesVirtualDiskStubIsAnErrorNotASuccess) {
  // Wine's OpenVirtualDisk answers every ISO with an error: the tool must not take
  // that for a detached image (it reports it, and keeps the record).
  EXPECT_NE(iso::detachIsoFromLetter('Q', "C:\\no\\such.iso"), static_cast<DWORD>(ERROR_SUCCESS));
}

// CreateThread returning NULL for the producer, for a worker, for all: the imaging
// pipeline still consumes every item in order (a hang is the tier's timeout).
TEST(ThreadsUnderWine, APipelineWhoseThreadsCannotBeCreatedRunsOnTheCallingThread) {
  // Threads given: none (the producer's fails), one (a worker's fails), two (all).
  for (int given : {0, 1, 2}) {
    SCOPED_TRACE(given);
    ghost::limitThreadsForTests(given);
    int produced = 0;
    std::vector<std::uint64_t> consumed;
    ghost::PipelineStages stages;
    stages.produce = [&](ghost::WorkItem& item) {
      if (produced == 20) return ghost::Produced::End;
      item.input.assign(1, std::uint8_t(produced++));
      return ghost::Produced::Item;
    };
    stages.transform = [](ghost::WorkItem& item) { item.output = item.input; };
    stages.consume = [&](ghost::WorkItem& item) {
      consumed.push_back(item.output[0]);
      return true;
    };
    EXPECT_EQ(ghost::runPipeline(stages, 2, 0, [] { return false; }), ghost::PipelineEnd::Completed);
    ghost::limitThreadsForTests(-1);
    EXPECT_EQ(produced, 20);
    ASSERT_EQ(consumed.size(), 20u);
    for (std::size_t i = 0; i < consumed.size(); ++i) EXPECT_EQ(consumed[i], i);
  }
  // With the threads the system gives, all of them run together.
  std::vector<std::function<void()>> tasks(3);
  volatile LONG ran = 0;
  for (auto& task : tasks) task = [&ran] { InterlockedIncrement(&ran); };
  EXPECT_TRUE(ghost::runConcurrently(tasks));
  EXPECT_EQ(ran, 3);
}

// The imaging engine's split decision where the destination folder cannot be opened
// (it does not exist yet): the volume's root still names the file system.
TEST(SpanLimitUnderWine, AFolderThatCannotBeOpenedIsAskedThroughItsVolume) {
  auto files = ghost::platformFiles();
  EXPECT_EQ(files->maxFileSize("C:\\windows\\a.gho"), 0u) << "an NTFS folder";
  EXPECT_EQ(files->maxFileSize("C:\\no such folder\\deeper\\a.gho"), 0u) << "NTFS through the root";
  EXPECT_EQ(files->maxFileSize("Q:\\a.gho"), ghost::kFat32SpanLimit) << "no drive at all: split to be safe";
}

// Where the imaging engine finds an image before it restores over a partition. Files
// cannot be opened through a letter defined onto a folder under Wine (they can on
// Windows), so here the letter's own target is what finds the folder's drive.
TEST(ImagePlaceUnderWine, ALetterDefinedOntoAFolderIsFollowedToItsDrive) {
  EXPECT_EQ(disk::volumeOfGuidPath(L"\\\\?\\Volume{00000000-0000-0000-0000-000000000043}\\windows\\a.gho"),
            L"\\\\?\\Volume{00000000-0000-0000-0000-000000000043}");
  EXPECT_EQ(disk::volumeOfGuidPath(L"\\\\?\\Volume{00000000-0000-0000-0000-000000000043}"),
            L"\\\\?\\Volume{00000000-0000-0000-0000-000000000043}");
  EXPECT_EQ(disk::volumeOfGuidPath(L"\\\\?\\C:\\windows\\a.gho"), L"");
  EXPECT_EQ(disk::volumeOfGuidPath(L"\\\\?\\Volume{broken\\a.gho"), L"");
  EXPECT_EQ(disk::throughMappedLetter(L"Z:\\sources\\a.wim", L"\\??\\D:\\iso"), L"D:\\iso\\sources\\a.wim");
  EXPECT_EQ(disk::throughMappedLetter(L"Z:\\a.wim", L"\\??\\D:\\"), L"D:\\a.wim");
  EXPECT_EQ(disk::throughMappedLetter(L"Z:\\a.wim", L"\\Device\\HarddiskVolume3"), L"");
  EXPECT_EQ(disk::throughMappedLetter(L"Z:\\a.wim", L"\\??\\UNC\\server\\share"), L"");

  using disk::PathPlace;
  // A partition that does not exist: every resolved path is elsewhere.
  EXPECT_EQ(disk::placeOfPath(L"C:\\windows\\system32\\cmd.exe", 90, 9), PathPlace::Elsewhere);
  EXPECT_EQ(disk::placeOfPath(L"\\\\server\\share\\a.gho", 90, 9), PathPlace::Elsewhere) << "the network";
  EXPECT_EQ(disk::placeOfPath(L"Q:\\a.gho", 90, 9), PathPlace::Unknown) << "no such drive";
  wchar_t folder[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  ASSERT_TRUE(DefineDosDeviceW(0, L"Q:", folder));
  EXPECT_EQ(disk::placeOfPath(L"Q:\\a.gho", 90, 9), PathPlace::Elsewhere);
  // Where Wine numbers C:'s volume, the image behind Q: lies on that partition.
  const std::wstring c = disk::volumeOfPath(L"C:\\");
  for (const disk::SystemVolume& volume : disk::systemVolumes()) {
    if (volume.path() != c || !volume.device || volume.device->type != FILE_DEVICE_DISK) continue;
    EXPECT_EQ(disk::placeOfPath(L"Q:\\a.gho", volume.device->number, volume.device->partition),
              PathPlace::OnPartition);
  }
  DefineDosDeviceW(DDD_REMOVE_DEFINITION, L"Q:", nullptr);
}

}  // namespace
