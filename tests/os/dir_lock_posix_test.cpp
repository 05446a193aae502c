#include "os/dir_lock.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace tessaro {
namespace {

TEST(DirLock, OneHolderAtATimeForNoLongerThanTheWaitAndNoFileLeftBehind) {
    testing::TempDir tmp;
    const UniqueFd dir(open(tmp.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const std::string lockFile = tmp / kLockName;
    {
        const DirLock first(dir.get(), std::chrono::milliseconds(0));
        EXPECT_EQ(first.state(), LockState::held);
        EXPECT_TRUE(std::filesystem::exists(lockFile));
        const DirLock second(dir.get(), std::chrono::milliseconds(120));
        EXPECT_EQ(second.state(), LockState::busy);
    }
    EXPECT_FALSE(std::filesystem::exists(lockFile));
    // A lock file a killed holder left is taken over, and goes with its new holder.
    close(open(lockFile.c_str(), O_RDWR | O_CREAT, 0600));
    {
        const DirLock again(dir.get(), std::chrono::milliseconds(0));
        EXPECT_EQ(again.state(), LockState::held);
    }
    EXPECT_FALSE(std::filesystem::exists(lockFile));
}

}  // namespace
}  // namespace tessaro
