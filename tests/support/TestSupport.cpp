// The leak check of TComTest.
#include "support/TestSupport.h"

#include "com/ComServerUnit.h"

namespace zorbex::test {

void TComTest::TearDown() {
    EXPECT_EQ(S_OK, LoadedLibraryCanUnloadNow()) << "an object, lock or factory reference was left behind";
    // The library's code is also linked into the test itself: its objects must be gone as well.
    EXPECT_TRUE(CanUnloadModule()) << "an object made in this process was left behind";
}

} // namespace zorbex::test
