#include "StopSignals.h"

namespace kivplc {

namespace {

volatile std::sig_atomic_t g_stop = 0;
extern "C" void OnStop(int) { g_stop = 1; }

}  // namespace

StopSignals::StopSignals() {
  g_stop = 0;
  struct sigaction action {};
  action.sa_handler = OnStop;
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < 3; ++i) sigaction(kSignals[i], &action, &m_previous[i]);
}

StopSignals::~StopSignals() {
  for (size_t i = 0; i < 3; ++i) sigaction(kSignals[i], &m_previous[i], nullptr);
}

bool StopSignals::Requested() { return g_stop != 0; }

}  // namespace kivplc
