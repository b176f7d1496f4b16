// The global and local heaps and the failing-allocation hook.
#include "host_test_support.h"

#include <string.h>

namespace {

class MemoryTest : public HostTest {};

bool AllZero(const void *block, size_t bytes) {
    const unsigned char *p = static_cast<const unsigned char *>(block);
    for (size_t i = 0; i < bytes; ++i)
        if (p[i] != 0)
            return false;
    return true;
}

TEST_F(MemoryTest, ZeroInitialisedBlocks) {
    // Dirty the heap first, so that fresh blocks are not zero by chance.
    for (int i = 0; i < 4; ++i) {
        HLOCAL dirty = LocalAlloc(LMEM_FIXED, 5568);
        ASSERT_NE(dirty, nullptr);
        memset(dirty, 0xA5, 5568);
        LocalFree(dirty);
    }
    HLOCAL local = LocalAlloc(LPTR, 5568);
    ASSERT_NE(local, nullptr);
    EXPECT_TRUE(AllZero(local, 5568));
    HGLOBAL global = GlobalAlloc(GHND, 1024);
    ASSERT_NE(global, nullptr);
    void *pointer = GlobalLock(global);
    ASSERT_NE(pointer, nullptr);
    EXPECT_TRUE(AllZero(pointer, 1024));
    EXPECT_FALSE(GlobalUnlock(global));
    EXPECT_EQ(GlobalFree(global), nullptr);
    EXPECT_EQ(LocalFree(local), nullptr);
}

TEST_F(MemoryTest, LockCountsAndGlobalHandle) {
    HGLOBAL movable = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 65);
    ASSERT_NE(movable, nullptr);
    char *text = static_cast<char *>(GlobalLock(movable));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(GlobalHandle(text), movable);
    EXPECT_EQ(GlobalLock(movable), text) << "locked twice";
    EXPECT_TRUE(GlobalUnlock(movable)) << "still locked once";
    EXPECT_FALSE(GlobalUnlock(movable)) << "unlocked now";
    EXPECT_FALSE(GlobalUnlock(movable)) << "not locked";

    HGLOBAL fixed = GlobalAlloc(GPTR, 16);
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(GlobalLock(fixed), fixed);
    EXPECT_EQ(GlobalHandle(fixed), fixed);

    int notOurs = 0;
    EXPECT_EQ(GlobalHandle(&notOurs), nullptr);
    EXPECT_EQ(GlobalLock(nullptr), nullptr);
    EXPECT_EQ(GlobalFree(&notOurs), &notOurs) << "failure returns the handle";
    EXPECT_EQ(GlobalFree(nullptr), nullptr);

    HLOCAL local = LocalAlloc(LMEM_FIXED, 8);
    ASSERT_NE(local, nullptr);
    EXPECT_EQ(GlobalHandle(local), nullptr) << "a local block is no global one";
    EXPECT_EQ(GlobalFree(local), local);
    EXPECT_EQ(LocalFree(local), nullptr);
    EXPECT_EQ(LocalFree(local), local) << "freed only once";

    EXPECT_EQ(GlobalFree(movable), nullptr);
    EXPECT_EQ(GlobalHandle(text), nullptr);
    EXPECT_EQ(GlobalFree(fixed), nullptr);
}

TEST_F(MemoryTest, TheNthNextAllocationFails) {
    HostFailAllocation(3);
    HLOCAL first = LocalAlloc(LPTR, 32776);
    HGLOBAL second = GlobalAlloc(GPTR, 500);
    HLOCAL third = LocalAlloc(LPTR, 2068);
    HLOCAL fourth = LocalAlloc(LPTR, 2068);
    EXPECT_NE(first, nullptr);
    EXPECT_NE(second, nullptr);
    EXPECT_EQ(third, nullptr);
    EXPECT_NE(fourth, nullptr) << "only one allocation fails";
    LocalFree(first);
    GlobalFree(second);
    LocalFree(fourth);

    HostFailAllocation(1);
    HostFailAllocation(0);
    HLOCAL none = LocalAlloc(LPTR, 8);
    EXPECT_NE(none, nullptr) << "0 switches the failure off";
    LocalFree(none);
}

TEST_F(MemoryTest, FailingAllocationFromTheEnvironment) {
    SetEnv("MORVIK_FAIL_ALLOC", "2");
    HostReset();
    HGLOBAL first = GlobalAlloc(GPTR, 8);
    HGLOBAL second = GlobalAlloc(GPTR, 8);
    HGLOBAL third = GlobalAlloc(GPTR, 8);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(second, nullptr);
    EXPECT_NE(third, nullptr);
    GlobalFree(first);
    GlobalFree(third);
}

} // namespace
