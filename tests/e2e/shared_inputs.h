// A suite whose cases share one log and the MAT-file tracepack makes of it:
// in.log and in.mat in a directory of the suite's own, made once.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "e2e/e2e_util.h"

namespace e2e {

// Suite derives from SharedInputs<Suite> and gives
//   static std::string Log();          the log's text
// and, where it cannot run everywhere,
//   static const char* SkipReason();   why not here, or null.
template <class Suite>
class SharedInputs : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    inputs_ = std::make_unique<TempDir>();
    if (Suite::SkipReason()) return;
    e2e::WriteFile(*inputs_ / "in.log", Suite::Log());
    e2e::Run(inputs_->path(), TRACEPACK_BIN, {"in.log", "in.mat"});
  }
  static void TearDownTestSuite() { inputs_.reset(); }
  void SetUp() override {
    if (const char* why = Suite::SkipReason()) GTEST_SKIP() << why;
    if (std::string(TRACEUNPACK_BIN).empty()) GTEST_SKIP() << "traceunpack not built";
    ASSERT_TRUE(e2e::Exists(*inputs_ / "in.mat"));
  }
  static const char* SkipReason() { return nullptr; }

  static inline std::unique_ptr<TempDir> inputs_;
};

}  // namespace e2e
