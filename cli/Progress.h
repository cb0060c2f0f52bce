// A progress bar on standard error for long imports and exports; only when
// standard error is a terminal, so logs and pipes stay clean.
#ifndef KIV_CLI_PROGRESS_H_
#define KIV_CLI_PROGRESS_H_

#include <cstddef>
#include <string>

namespace kivplc {

class Progress {
 public:
  // Shown only for `total` of at least kLargeCatalogue steps.
  static constexpr size_t kLargeCatalogue = 200;
  Progress(std::string label, size_t total);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void Step();
  // Takes the bar off the screen until the next Step.
  void Clear();
  // A line on standard error that the bar does not overwrite.
  void Message(const std::string& line);

 private:
  void Draw();

  std::string m_label;
  size_t m_total;
  size_t m_done = 0;
  int m_drawnPercent = -1;
  bool m_shown;
};

}  // namespace kivplc

#endif  // KIV_CLI_PROGRESS_H_
