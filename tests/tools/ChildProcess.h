// A worker process for the reliability tests: started with its standard
// output on a pipe, read line by line, killed or waited for.  A process
// still running when the object goes is killed and reaped.
#ifndef KIV_TESTS_TOOLS_CHILDPROCESS_H_
#define KIV_TESTS_TOOLS_CHILDPROCESS_H_

#include <sys/types.h>

#include <string>
#include <vector>

namespace kivtest {

class ChildProcess {
 public:
  // Throws std::runtime_error when the program cannot be started.
  explicit ChildProcess(const std::vector<std::string>& argv);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Reads what arrives within `timeoutMs`; false once the output has ended.
  bool ReadSome(int timeoutMs);
  // The complete lines read so far; a line cut short by a kill is not one.
  const std::vector<std::string>& Lines() const { return m_lines; }

  void Kill();
  // Reads the rest of the output and reaps the process; its wait status.
  int Wait();

 private:
  pid_t m_pid = -1;
  int m_out = -1;
  std::string m_partial;
  std::vector<std::string> m_lines;
};

// The path of the worker program next to the test executables.
std::string WorkerProgram();

// A worker's line split at its tabs.
std::vector<std::string> TabFields(const std::string& line);

// The number in environment variable `name`, or `fallback`.
long EnvNumber(const char* name, long fallback);

}  // namespace kivtest

#endif  // KIV_TESTS_TOOLS_CHILDPROCESS_H_
