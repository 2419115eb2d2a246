#include "tools/ghost/volume_lock.h"

namespace ghost {

namespace {

bool lockWithin(VolumeControl& volume, int tries) {
  for (int i = 0; i < tries; ++i) {
    if (i > 0) volume.pause(kLockPauseMs);
    if (volume.lock()) return true;
  }
  return false;
}

}  // namespace

VolumeTaken takeVolume(VolumeControl& volume, bool forWriting) {
  VolumeTaken taken;
  taken.extendedIo = volume.allowExtendedIo();
  taken.locked = lockWithin(volume, kLockTries);
  if (!taken.locked && forWriting) {
    taken.forcedDismount = volume.dismount();
    taken.locked = taken.forcedDismount && lockWithin(volume, kLockTriesAfterDismount);
    return taken;
  }
  if (taken.locked) volume.dismount();
  return taken;
}

bool growWithRetries(const std::function<bool(std::uint32_t& error)>& attempt,
                     const std::function<void(unsigned milliseconds)>& pause, std::uint32_t& lastError) {
  lastError = 0;
  for (int i = 0; i < kGrowTries; ++i) {
    if (i > 0) pause(kGrowPauseMs);
    std::uint32_t error = 0;
    if (attempt(error)) return true;
    lastError = error;
  }
  return false;
}

}  // namespace ghost
