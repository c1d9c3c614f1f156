#include <gtest/gtest.h>

#include <pthread.h>
#include <thread>
#include <vector>

#include "queue.h"

namespace {

struct LockLog {
    int locks = 0;
    int unlocks = 0;
    uint8_t lock_result = 0;
};

uint8_t count_Lock(bool enable, void* data)
{
    LockLog* log = static_cast<LockLog*>(data);
    if (enable) {
        ++log->locks;
        return log->lock_result;
    }
    ++log->unlocks;
    return 0;
}

TEST(Queue, HoldsExactlyTheSizeAskedFor)
{
    Queue<int> queue;
    queue.init(200);
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(0, queue.Enqueue(i)) << i;
    EXPECT_NE(0, queue.Enqueue(200));
    EXPECT_EQ(200u, queue.get_Count());
    EXPECT_EQ(1u, queue.get_Left_Count());
    int value = -1;
    ASSERT_EQ(0, queue.Dequeue(&value));
    EXPECT_EQ(0, value);
    EXPECT_EQ(0, queue.Enqueue(201));
    EXPECT_NE(0, queue.Enqueue(202));
}

TEST(Queue, WrapsAroundInOrder)
{
    Queue<unsigned> queue;
    queue.init(200);
    unsigned value = 0;
    for (unsigned i = 0; i < 150; ++i) {
        ASSERT_EQ(0, queue.Enqueue(i));
        ASSERT_EQ(0, queue.Dequeue(&value));
        ASSERT_EQ(i, value);
    }
    for (unsigned i = 0; i < 200; ++i)
        ASSERT_EQ(0, queue.Enqueue(1000 + i));
    EXPECT_EQ(200u, queue.get_Count());
    for (unsigned i = 0; i < 200; ++i) {
        ASSERT_EQ(0, queue.Dequeue(&value));
        ASSERT_EQ(1000 + i, value);
    }
    EXPECT_EQ(0u, queue.get_Count());
}

TEST(Queue, EmptyAndNullDequeueChangeNothing)
{
    Queue<int> queue;
    queue.init(4);
    int value = 42;
    EXPECT_NE(0, queue.Dequeue(&value));
    EXPECT_EQ(42, value);
    queue.Enqueue(7);
    EXPECT_NE(0, queue.Dequeue(nullptr));
    EXPECT_EQ(1u, queue.get_Count());
    EXPECT_EQ(0, queue.Dequeue(&value));
    EXPECT_EQ(7, value);
}

TEST(Queue, WithoutStorageEverythingIsRefused)
{
    Queue<int> queue;
    LockLog log;
    EXPECT_NE(0, queue.set_Lock_Control_Handler(count_Lock, &log));
    EXPECT_NE(0, queue.Enqueue(1));
    int value = 5;
    EXPECT_NE(0, queue.Dequeue(&value));
    EXPECT_EQ(5, value);
    EXPECT_EQ(0u, queue.get_Count());
    EXPECT_EQ(0, log.locks);
}

TEST(Queue, InitDropsTheHandlerAndTheEntries)
{
    Queue<int> queue;
    queue.init(8);
    LockLog log;
    ASSERT_EQ(0, queue.set_Lock_Control_Handler(count_Lock, &log));
    queue.Enqueue(1);
    queue.Enqueue(2);
    EXPECT_EQ(2, log.locks);
    EXPECT_EQ(2, log.unlocks);
    queue.init(8);
    EXPECT_EQ(0u, queue.get_Count());
    queue.Enqueue(3);
    EXPECT_EQ(2, log.locks);
}

TEST(Queue, EveryOperationIsOneLockAndOneUnlock)
{
    Queue<int> queue;
    queue.init(1);
    LockLog log;
    queue.set_Lock_Control_Handler(count_Lock, &log);
    int value;
    queue.Enqueue(1);      // stored
    queue.Enqueue(2);      // full
    queue.Dequeue(&value); // taken
    queue.Dequeue(&value); // empty
    EXPECT_EQ(4, log.locks);
    EXPECT_EQ(4, log.unlocks);
}

TEST(Queue, FailingLockAbandonsTheCallWithoutUnlocking)
{
    Queue<int> queue;
    queue.init(4);
    LockLog log;
    queue.set_Lock_Control_Handler(count_Lock, &log);
    queue.Enqueue(1);
    log.lock_result = 3;
    EXPECT_NE(0, queue.Enqueue(2));
    int value = -1;
    EXPECT_NE(0, queue.Dequeue(&value));
    EXPECT_EQ(-1, value);
    EXPECT_EQ(1u, queue.get_Count());
    EXPECT_EQ(3, log.locks);
    EXPECT_EQ(1, log.unlocks);
    log.lock_result = 0;
    EXPECT_EQ(0, queue.Dequeue(&value));
    EXPECT_EQ(1, value);
}

// One producer and one consumer share the ring through a mutex lock handler,
// as the transmit thread and its requesters do; nothing is lost or reordered.
TEST(Queue, ProducerConsumerLosesAndReordersNothing)
{
    const unsigned total = 100000;
    Queue<unsigned> queue;
    queue.init(200);
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    ASSERT_EQ(0, queue.set_Lock_Control_Handler(set_Mutex_Lock, &mutex));

    std::thread producer([&] {
        for (unsigned i = 0; i < total;) {
            if (queue.Enqueue(i) == 0)
                ++i;
            else
                std::this_thread::yield();
        }
    });
    std::vector<unsigned> received;
    received.reserve(total);
    while (received.size() < total) {
        unsigned value;
        // The consumer polls the count without the lock, like the transmit thread.
        if (queue.get_Count() != 0 && queue.Dequeue(&value) == 0)
            received.push_back(value);
        else
            std::this_thread::yield();
    }
    producer.join();
    for (unsigned i = 0; i < total; ++i)
        ASSERT_EQ(i, received[i]);
    EXPECT_EQ(0u, queue.get_Count());
    pthread_mutex_destroy(&mutex);
}

// The transmit queue holds packets it does not own: emptying or destroying
// it frees nothing, and what comes out is the very record put in.
TEST(Queue, HoldsPacketPointersWithoutOwningThem)
{
    static int destroyed = 0;
    struct Record {
        ~Record() { ++destroyed; }
    };
    Record* kept = new Record();
    {
        Queue<Record*> queue;
        queue.init(2);
        ASSERT_EQ(0, queue.Enqueue(kept));
        queue.init(2);
        ASSERT_EQ(0, queue.Enqueue(kept));
        Record* out = nullptr;
        ASSERT_EQ(0, queue.Dequeue(&out));
        EXPECT_EQ(kept, out);
        ASSERT_EQ(0, queue.Enqueue(kept));
    }
    EXPECT_EQ(0, destroyed);
    delete kept;
    EXPECT_EQ(1, destroyed);
}

} // namespace
