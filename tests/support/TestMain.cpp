// Entry point of every test executable: an OLE single-threaded apartment around the test run.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (FAILED(::OleInitialize(nullptr)))
        return 2;
    int result = RUN_ALL_TESTS();
    ::OleUninitialize();
    return result;
}
