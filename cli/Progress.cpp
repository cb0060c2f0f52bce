#include "Progress.h"
#include "HostSystem.h"

#include <iostream>

namespace kivplc {

namespace {
constexpr int kBarWidth = 30;
}

Progress::Progress(std::string label, size_t total)
    : m_label(std::move(label)), m_total(total), m_shown(total >= kLargeCatalogue && kiv::host::StderrIsTerminal()) {
  Draw();
}

Progress::~Progress() { Clear(); }

void Progress::Step() {
  ++m_done;
  Draw();
}

void Progress::Message(const std::string& line) {
  Clear();
  std::cerr << line << '\n';
  Draw();
}

void Progress::Draw() {
  if (!m_shown || m_total == 0) return;
  int percent = static_cast<int>(m_done * 100 / m_total);
  if (percent == m_drawnPercent) return;  // redraw only when it moves
  m_drawnPercent = percent;
  int filled = percent * kBarWidth / 100;
  std::cerr << '\r' << m_label << " [" << std::string(static_cast<size_t>(filled), '#')
            << std::string(static_cast<size_t>(kBarWidth - filled), '.') << "] " << m_done << '/' << m_total
            << std::flush;
}

void Progress::Clear() {
  if (m_shown && m_drawnPercent >= 0) std::cerr << "\r\033[K" << std::flush;
  m_drawnPercent = -1;
}

}  // namespace kivplc
