#include "platform/checked_mutex.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace {

// Whether the calling thread can take the lock now; lets it go again.
bool TakeAndRelease(CheckedMutex& mutex) {
    if (!mutex.try_lock()) {
        return false;
    }
    mutex.unlock();
    return true;
}

// Whether another thread could take the lock now.
bool FreeForAnotherThread(CheckedMutex& mutex) {
    return std::async(std::launch::async, [&mutex] { return TakeAndRelease(mutex); }).get();
}

}  // namespace

// A callback the analysis cannot follow asks whether its caller holds the lock: the answer
// follows the holder from the taking to the release.
TEST(CheckedMutexTest, KnownAsHeldFromTakingToRelease) {
    CheckedMutex mutex;
    EXPECT_FALSE(mutex.HeldByThisThread());
    {
        CheckedLock lock(mutex);
        EXPECT_TRUE(mutex.HeldByThisThread());
        EXPECT_FALSE(FreeForAnotherThread(mutex));
    }
    EXPECT_FALSE(mutex.HeldByThisThread());
    EXPECT_TRUE(FreeForAnotherThread(mutex));
    if (mutex.try_lock()) {
        EXPECT_TRUE(mutex.HeldByThisThread());
        mutex.unlock();
    } else {
        ADD_FAILURE() << "a free lock could not be taken";
    }
    EXPECT_FALSE(mutex.HeldByThisThread());
}

TEST(CheckedMutexTest, AHolderOnAnotherThreadIsNotThisOne) {
    CheckedMutex mutex;
    std::promise<void> taken;
    std::promise<void> done;
    std::thread holder([&] {
        CheckedLock lock(mutex);
        taken.set_value();
        done.get_future().wait();
    });
    taken.get_future().wait();
    EXPECT_FALSE(mutex.HeldByThisThread());
    EXPECT_FALSE(TakeAndRelease(mutex));
    done.set_value();
    holder.join();
    EXPECT_TRUE(TakeAndRelease(mutex));
    EXPECT_FALSE(mutex.HeldByThisThread());
}
