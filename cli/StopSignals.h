// Stopping a long command (import, copy, import-access) cleanly.
//
// Ctrl-C, a `kill` and a closed terminal (SIGINT, SIGTERM, SIGHUP) do not
// end the process while a StopSignals lives: they set a flag that the
// command reads between modules, so that it stops at a point where what
// it wrote is whole, removes a catalogue file it made, and says what is
// left.  Dying in the middle would leave a new file half made.
#ifndef KIV_CLI_STOPSIGNALS_H_
#define KIV_CLI_STOPSIGNALS_H_

#include <csignal>

namespace kivplc {

class StopSignals {
 public:
  // Catches the three signals and clears the flag.
  StopSignals();
  // Puts back what the signals did before.
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // Whether one of the signals came since the newest StopSignals began.
  static bool Requested();

 private:
  static constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};
  struct sigaction m_previous[3];
};

}  // namespace kivplc

#endif  // KIV_CLI_STOPSIGNALS_H_
