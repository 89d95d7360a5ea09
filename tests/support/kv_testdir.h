// Shared fixtures of the tests: a temporary folder removed with everything
// in it, and an error handler that keeps (or drops) what it is told. The
// helpers themselves need no test framework and live in kv_testtools.h; this
// header adds the GoogleTest fixture.
#pragma once

#include <gtest/gtest.h>

#include "support/kv_testtools.h"

namespace kvtest {

// A fixture that gives each test its own temporary folder in `dir`.
class TempDirTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.ok()) << "no temporary folder"; }
    TempDir dir;
};

} // namespace kvtest
