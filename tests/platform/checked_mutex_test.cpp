#include "platform/checked_mutex.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace {

// Whether the calling thread can take the lock now; lets it go again.
bool TakeAndRelease(CheckedRecursiveMutex& mutex) {
    if (!mutex.try_lock()) {
        return false;
    }
    mutex.unlock();
    return true;
}

// Whether another thread could take the lock now.
bool FreeForAnotherThread(CheckedRecursiveMutex& mutex) {
    return std::async(std::launch::async,
                      [&mutex] {
                          if (!mutex.try_lock()) {
                              return false;
                          }
                          mutex.unlock();
                          return true;
                      })
        .get();
}

}  // namespace

// A modal loop run under the play lock takes it again on the same thread: the lock must stay
// held, and known as held, until the outermost holder lets go.
TEST(CheckedRecursiveMutexTest, NestedHoldsOnOneThreadReleaseOnlyAtTheOutermost) {
    CheckedRecursiveMutex mutex;
    EXPECT_FALSE(mutex.HeldByThisThread());
    {
        CheckedLock outer(mutex);
        EXPECT_TRUE(mutex.HeldByThisThread());
        // As a handler of a modal loop does, out of the analysis' sight.
        [&mutex] {
            CheckedLock inner(mutex);
            EXPECT_TRUE(mutex.HeldByThisThread());
        }();
        EXPECT_TRUE(mutex.HeldByThisThread());
        EXPECT_FALSE(FreeForAnotherThread(mutex));
    }
    EXPECT_FALSE(mutex.HeldByThisThread());
    EXPECT_TRUE(FreeForAnotherThread(mutex));
}

TEST(CheckedRecursiveMutexTest, AHolderOnAnotherThreadIsNotThisOne) {
    CheckedRecursiveMutex mutex;
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
