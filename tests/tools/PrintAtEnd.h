// One line of counts printed when a test program ends, after every test
// that ran in it, so that a run's figures can be read off its output.
#ifndef KIV_TESTS_TOOLS_PRINTATEND_H_
#define KIV_TESTS_TOOLS_PRINTATEND_H_

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <utility>

namespace kivtest {

// Registers `line` to be printed at the end; true, for a namespace-scope
// initializer.
inline bool PrintAtEnd(std::function<std::string()> line) {
  struct Print : ::testing::Environment {
    explicit Print(std::function<std::string()> l) : line(std::move(l)) {}
    void TearDown() override {
      std::printf("%s, failed tests: %d\n", line().c_str(), ::testing::UnitTest::GetInstance()->failed_test_count());
    }
    std::function<std::string()> line;
  };
  ::testing::AddGlobalTestEnvironment(new Print(std::move(line)));
  return true;
}

}  // namespace kivtest

#endif  // KIV_TESTS_TOOLS_PRINTATEND_H_
