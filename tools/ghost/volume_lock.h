// Taking a volume for a run: nobody may use it while its blocks are read or replaced
// underneath. The steps over the system's answers, so that tests can answer as
// Windows documents (backend_win32.cpp asks the real volume).
#pragma once

#include <cstdint>
#include <functional>

namespace ghost {

class VolumeControl {
 public:
  virtual ~VolumeControl() = default;
  // FSCTL_ALLOW_EXTENDED_DASD_IO: I/O past the file system's end (the NTFS backup boot
  // sector in the partition's last sector). Sent to the file system, so first.
  virtual bool allowExtendedIo() = 0;
  // FSCTL_LOCK_VOLUME: fails while any file on the volume is open (an Explorer window,
  // an antivirus scan).
  virtual bool lock() = 0;
  // FSCTL_DISMOUNT_VOLUME: succeeds with files open; their handles become invalid.
  virtual bool dismount() = 0;
  virtual void pause(unsigned milliseconds) = 0;
};

// About five seconds of tries before a volume counts as in use, then (restore only)
// a forced dismount and a few more.
inline constexpr int kLockTries = 20;
inline constexpr unsigned kLockPauseMs = 250;
inline constexpr int kLockTriesAfterDismount = 3;

struct VolumeTaken {
  bool locked = false;          // held for the rest of the run
  bool forcedDismount = false;  // another program's files on it were closed under it
  bool extendedIo = false;      // the file system agreed to pass I/O past its end
};

// Allows extended I/O, locks (retrying), then dismounts. A backup never forces: a
// volume in use is reported. A restore that cannot lock dismounts by force and locks
// again, since without the lock a dismounted volume may be mounted again at any time.
VolumeTaken takeVolume(VolumeControl& volume, bool forWriting);

// FSCTL_EXTEND_VOLUME works on a mounted volume only, and the file system mounts
// again on the first access after the unlock, in its own time: a few tries, apart.
inline constexpr int kGrowTries = 10;
inline constexpr unsigned kGrowPauseMs = 500;
// attempt: one try, false with the system's error code. True once one succeeded;
// otherwise lastError holds the last try's code.
bool growWithRetries(const std::function<bool(std::uint32_t& error)>& attempt,
                     const std::function<void(unsigned milliseconds)>& pause, std::uint32_t& lastError);

}  // namespace ghost
