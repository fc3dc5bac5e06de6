// Start-up of the program: single instance, settings, placement, image library, clean-up, the printer monitor,
// the initial capture pass, the readiness state and the welcome screen.
#pragma once

#include <QString>
#include <memory>

class lvFrameWin;
namespace platform {
class WindowChannel;
}

namespace frame {

inline constexpr const char *kDamagedMessage = "Tarvik Folvex! is damaged.\nPlease re-install.\nError 010003";

struct Running {
  Running();
  ~Running();
  std::unique_ptr<platform::WindowChannel> channel;
  std::unique_ptr<lvFrameWin> frame;
};

// Runs start-up. Returns nothing when another copy runs (it has been brought forward; this copy ends).
// headless: no modal box may wait for a user (smoke tests); the welcome screen and messages then do not block.
std::unique_ptr<Running> StartFolvex(bool headless);

// The wait for the printer monitor's window after it was started: poll up to pollMs for the window, then bring it
// forward for raiseMs. Runs on timers; never blocks.
void WatchForMonitor(int pollMs = 3000, int raiseMs = 1500);

} // namespace frame
