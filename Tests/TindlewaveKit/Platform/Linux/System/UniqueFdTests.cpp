#include "Platform/Linux/System/UniqueFd.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <utility>

namespace tindlewave {
namespace {

bool isOpen(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

// A descriptor has one owner at a time: a move hands it on without closing it, and the owner
// closes it exactly once, whether destroyed, reset or assigned another.
TEST(UniqueFd, TheOneOwnerClosesItsDescriptorOnceWhereverItWentAndNoOtherTakesItsPlace) {
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    {
        UniqueFd first(ends[0]);
        UniqueFd second(std::move(first));
        EXPECT_FALSE(first.isOpen());
        EXPECT_TRUE(isOpen(ends[0]));
        UniqueFd third(ends[1]);
        third = std::move(second);  // the write end goes, the read end is kept
        EXPECT_FALSE(isOpen(ends[1]));
        EXPECT_EQ(third.get(), ends[0]);
        EXPECT_TRUE(isOpen(ends[0]));
    }
    EXPECT_FALSE(isOpen(ends[0]));

    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    UniqueFd kept(ends[0]);
    EXPECT_TRUE(kept.close());
    EXPECT_FALSE(isOpen(ends[0]));
    EXPECT_TRUE(kept.close());  // holds none: nothing more to close
    kept.reset(ends[1]);
    EXPECT_EQ(kept.release(), ends[1]);
    EXPECT_FALSE(kept.isOpen());
    EXPECT_TRUE(isOpen(ends[1]));
    ::close(ends[1]);
}

}  // namespace
}  // namespace tindlewave
