#include <gtest/gtest.h>

#include "harness.h"

namespace {

using e2e::crlf;

TEST(RunDriver, SmokeEndsNormally) {
  e2e::WorkDir wd;
  e2e::RunResult r = wd.run({"2024"});
  EXPECT_EQ(r.status, 0) << r.err;
}

}  // namespace
