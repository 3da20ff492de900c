// The manual-reset event behind WaitForCompletion, across threads (its wait
// results are pinned by TaskThread).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/Event.h"

TEST(ManualResetEvent, ReleasesAWaiterOnAnotherThread) {
    kx::ManualResetEvent event(false);
    std::atomic<uint32_t> result{99};
    std::thread waiter([&] { result = event.Wait(kx::kInfinite); });
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    event.Set();
    waiter.join();
    EXPECT_EQ(result.load(), kx::kWaitSignalled);
}
