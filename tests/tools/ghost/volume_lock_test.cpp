// Taking a volume for a run, against a volume that answers as Windows documents:
// a lock fails while another program has a file open on it, a dismount succeeds
// anyway and closes those files, and a lock after it succeeds.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tools/ghost/volume_lock.h"

namespace {

class DocumentedVolume : public ghost::VolumeControl {
 public:
  int lockFailures = 0;          // locks refused before one succeeds
  bool filesStayOpen = false;    // an open file the lock never gets past
  bool dismountWorks = true;
  bool extendedIoWorks = true;
  std::vector<std::string> calls;

  bool allowExtendedIo() override {
    calls.push_back("allow");
    return extendedIoWorks;
  }
  bool lock() override {
    calls.push_back("lock");
    if (dismounted_) return true;  // the dismount closed every other handle
    if (filesStayOpen || lockFailures > 0) {
      --lockFailures;
      return false;
    }
    return true;
  }
  bool dismount() override {
    calls.push_back("dismount");
    dismounted_ = dismountWorks;
    return dismountWorks;
  }
  void pause(unsigned milliseconds) override { paused += milliseconds; }
  unsigned paused = 0;
  int count(const std::string& call) const { return static_cast<int>(std::count(calls.begin(), calls.end(), call)); }

 private:
  bool dismounted_ = false;
};

TEST(TakeVolume, ALockThatFailsTwiceIsTriedAgainAndThenDismounts) {
  for (bool writing : {false, true}) {
    DocumentedVolume volume;
    volume.lockFailures = 2;
    const ghost::VolumeTaken taken = ghost::takeVolume(volume, writing);
    EXPECT_TRUE(taken.locked);
    EXPECT_FALSE(taken.forcedDismount);
    EXPECT_EQ(volume.calls, (std::vector<std::string>{"allow", "lock", "lock", "lock", "dismount"}))
        << "extended I/O first, while the file system is mounted; the dismount only after the lock";
    EXPECT_EQ(volume.paused, 2 * ghost::kLockPauseMs);
  }
}

TEST(TakeVolume, ABackupNeverForcesAVolumeInUse) {
  DocumentedVolume volume;
  volume.filesStayOpen = true;
  const ghost::VolumeTaken taken = ghost::takeVolume(volume, false);
  EXPECT_FALSE(taken.locked);
  EXPECT_EQ(volume.count("lock"), 20);
  EXPECT_EQ(volume.count("dismount"), 0);
  EXPECT_GE(volume.paused, 4000u) << "about five seconds of tries";
  EXPECT_LE(volume.paused, 6000u);
}

TEST(TakeVolume, ARestoreDismountsByForceAndHoldsTheLockAfterwards) {
  DocumentedVolume volume;
  volume.filesStayOpen = true;
  const ghost::VolumeTaken taken = ghost::takeVolume(volume, true);
  EXPECT_TRUE(taken.locked);
  EXPECT_TRUE(taken.forcedDismount);
  EXPECT_EQ(volume.count("dismount"), 1);
  EXPECT_EQ(volume.calls.back(), "lock");
}

TEST(TakeVolume, ARestoreThatCanNeitherLockNorDismountHoldsNothing) {
  DocumentedVolume volume;
  volume.filesStayOpen = true;
  volume.dismountWorks = false;
  const ghost::VolumeTaken taken = ghost::takeVolume(volume, true);
  EXPECT_FALSE(taken.locked);
  EXPECT_EQ(volume.count("lock"), 20) << "no lock tried after a dismount that failed";
}

TEST(TakeVolume, ExtendedIoRefusedIsReportedButDecidesNothing) {
  // Some file systems never limit I/O: the restore's read of the last sector decides.
  DocumentedVolume volume;
  volume.extendedIoWorks = false;
  const ghost::VolumeTaken taken = ghost::takeVolume(volume, true);
  EXPECT_TRUE(taken.locked);
  EXPECT_FALSE(taken.extendedIo);
}

// The volume mounts again a moment after the unlock: until then the grow is refused.
TEST(GrowWithRetries, WaitsForTheVolumeToMountAgainAndGivesUpWithTheLastError) {
  int attempts = 0;
  unsigned paused = 0;
  std::uint32_t error = 0;
  const auto mountsAfterTwo = [&](std::uint32_t& code) {
    ++attempts;
    if (attempts <= 2) {
      code = 1005;  // ERROR_UNRECOGNIZED_VOLUME: still RAW
      return false;
    }
    return true;
  };
  EXPECT_TRUE(ghost::growWithRetries(mountsAfterTwo, [&](unsigned ms) { paused += ms; }, error));
  EXPECT_EQ(attempts, 3);
  EXPECT_EQ(paused, 2 * ghost::kGrowPauseMs);

  attempts = 0;
  const auto neverGrows = [&](std::uint32_t& code) {
    code = ++attempts < ghost::kGrowTries ? 1005u : 87u;
    return false;
  };
  EXPECT_FALSE(ghost::growWithRetries(neverGrows, [](unsigned) {}, error));
  EXPECT_EQ(attempts, ghost::kGrowTries);
  EXPECT_EQ(error, 87u);
}

}  // namespace
