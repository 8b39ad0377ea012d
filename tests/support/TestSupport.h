// What every test program shares: the surroundings of the process (EnvironmentUnit) and the base fixture
// that checks that each test leaves the library unloadable.
#pragma once

#include <gtest/gtest.h>

#include "support/EnvironmentUnit.h"

namespace zorbex::test {

// Base fixture: each test ends with the library unloadable (no object, lock or factory reference).
class TComTest : public ::testing::Test {
protected:
    void TearDown() override;
};

} // namespace zorbex::test
