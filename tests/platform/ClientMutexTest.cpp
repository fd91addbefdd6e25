#include "platform/ClientMutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

TEST(ClientMutexTest, GuardOnAFreeMutexHoldsItUntilDestroyed) {
    CClient_Mutex mutex;
    {
        const CClient_MutexGuard guard(&mutex);
        std::thread([&mutex] { EXPECT_FALSE(mutex.TryLock()); }).join();
    }
    std::thread([&mutex] {
        ASSERT_TRUE(mutex.TryLock());
        mutex.Unlock();
    }).join();
}

TEST(ClientMutexTest, SecondGuardWaitsUntilTheFirstIsReleased) {
    CClient_Mutex mutex;
    std::atomic<bool> secondHolds{false};
    std::thread second;
    {
        const CClient_MutexGuard first(&mutex);
        second = std::thread([&] {
            const CClient_MutexGuard guard(&mutex);
            secondHolds = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_FALSE(secondHolds);
    }
    second.join();
    EXPECT_TRUE(secondHolds);
}

} // namespace
