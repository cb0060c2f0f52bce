// A driver for tests that runs each statement on the embedded engine, on
// the same file, and records its text exactly as the component received
// it.  Chosen only by name ("Driver=recording" in the connection string).
// The recording is process-wide, shared by every connection through the
// driver, and thread-safe.
#ifndef KIV_TESTS_SUPPORT_RECORDINGDRIVER_H_
#define KIV_TESTS_SUPPORT_RECORDINGDRIVER_H_

#include <string>
#include <vector>

namespace kivtest {

class RecordingDriver {
 public:
  static constexpr const wchar_t* kName = L"recording";

  // Registers the driver (once per process) and clears the recording and
  // any planned failure.
  static void Install();
  // Every statement text run so far, in order, including refused ones.
  static std::vector<std::wstring> Statements();
  static void Clear();
  // Makes the next statement whose text contains `fragment` fail with
  // `error` instead of running (it is still recorded).  One at a time.
  static void FailNext(const std::wstring& fragment, const std::wstring& error = L"injected failure");
};

}  // namespace kivtest

#endif  // KIV_TESTS_SUPPORT_RECORDINGDRIVER_H_
