// A worker for the reliability tests: a forked copy of this process that
// runs some work and reports it in lines over a pipe, read line by line,
// killed or waited for.  A worker still running when the object goes is
// killed and reaped.
#ifndef KIV_TESTS_TOOLS_CHILDPROCESS_H_
#define KIV_TESTS_TOOLS_CHILDPROCESS_H_

#include <sys/types.h>

#include <csignal>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kivtest {

class ChildProcess {
 public:
  using Emit = std::function<void(const std::string&)>;
  // Forks; the child runs `work`, which reports through the Emit it is
  // given, and exits (1 when `work` threw).  Throws std::runtime_error
  // when no child can be made.  Fork before starting threads.
  explicit ChildProcess(const std::function<void(const Emit&)>& work);
  ~ChildProcess();
  // Runs program argv[0] (found on PATH) with its standard output and
  // error going to file `out`; it reports no lines.
  static std::unique_ptr<ChildProcess> Program(const std::vector<std::string>& argv,
                                               const std::string& out = "/dev/null");
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Reads what arrives within `timeoutMs`; false once the output has ended.
  bool ReadSome(int timeoutMs);
  // The complete lines read so far; a line cut short by a kill is not one.
  const std::vector<std::string>& Lines() const { return m_lines; }

  pid_t Pid() const { return m_pid; }
  // Whether the process has ended, without waiting for it; if it has,
  // reads the rest of its output, reaps it and sets its wait `status`.
  bool Ended(int& status);

  void Kill(int signal = SIGKILL);
  // Reads the rest of the output and reaps the process; its wait status.
  int Wait();

 private:
  pid_t m_pid = -1;
  int m_out = -1;
  std::string m_partial;
  std::vector<std::string> m_lines;
};

// The number in environment variable `name`, or `fallback`.
long EnvNumber(const char* name, long fallback);

}  // namespace kivtest

#endif  // KIV_TESTS_TOOLS_CHILDPROCESS_H_
