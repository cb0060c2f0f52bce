// A driver for tests that records every statement text reaching the engine.
//
// It runs each statement on the embedded engine, on the same file, and
// keeps the texts in order, exactly as the component received them.  It is
// chosen only by name:
//
//   kivtest::RecordingDriver::Install();
//   db.PutConnectionString(L"Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + path
//                          + L";Driver=recording");
//   ... run the library ...
//   EXPECT_EQ(kivtest::RecordingDriver::Statements(),
//             (std::vector<std::wstring>{L"SELECT COUNT(*) FROM [PLC_MANUFACTURER]"}));
//
// The recording is process-wide and shared by every connection opened
// through the driver.  Thread-safe.
#ifndef KIV_TESTS_SUPPORT_RECORDINGDRIVER_H_
#define KIV_TESTS_SUPPORT_RECORDINGDRIVER_H_

#include <string>
#include <vector>

namespace kivtest {

class RecordingDriver {
 public:
  // The name to give in "Driver=".
  static constexpr const wchar_t* kName = L"recording";

  // Registers the driver (once per process) and clears the recording and
  // any planned failure.
  static void Install();
  // Every statement text run so far, in order, including refused ones.
  static std::vector<std::wstring> Statements();
  // Forgets the recorded statements.
  static void Clear();
  // Makes the next statement whose text contains `fragment` fail with
  // `error` instead of running (it is still recorded).  One at a time: a
  // later call replaces an earlier one that has not struck yet.
  static void FailNext(const std::wstring& fragment, const std::wstring& error = L"injected failure");
};

}  // namespace kivtest

#endif  // KIV_TESTS_SUPPORT_RECORDINGDRIVER_H_
