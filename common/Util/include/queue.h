#ifndef LUMERION_QUEUE_H
#define LUMERION_QUEUE_H

#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>

#include <atomic>
#include <functional>
#include <type_traits>
#include <utility>

// Fixed-capacity FIFO ring. It has no lock of its own: an owner that shares
// it between threads installs a lock handler, called with true to lock and
// false to unlock around every Enqueue and Dequeue.
template <typename T> class Queue {
    // Slots are calloc'ed and assigned, never constructed.
    static_assert(std::is_trivially_copyable<T>::value, "Queue holds plain values");

public:
    Queue()
        : buffer_ptr(nullptr), buffer_end_offset(1), buffer_size(0), buffer_rear(0), buffer_front(0),
          lock_data(nullptr)
    {
    }

    Queue(const Queue&) = delete;
    Queue& operator=(const Queue&) = delete;

    virtual ~Queue()
    {
        free(buffer_ptr);
        buffer_ptr = nullptr;
    }

    // Empties the ring and drops the lock handler; install it again afterwards.
    void init(unsigned int size)
    {
        free(buffer_ptr);
        buffer_ptr = nullptr;
        buffer_size = 0;
        buffer_rear = 0;
        buffer_front = 0;
        lock_data = nullptr;
        set_Lock_Handler = nullptr;
        // Without storage the ring reads as full and refuses every entry.
        if (size > ~0u - buffer_end_offset)
            return;
        // NOLINTNEXTLINE(bugprone-sizeof-expression): a slot is a T, and T may be a pointer.
        buffer_ptr = static_cast<T*>(calloc(size + buffer_end_offset, sizeof(T)));
        if (buffer_ptr != nullptr)
            buffer_size = size + buffer_end_offset;
    }

    uint8_t set_Lock_Control_Handler(std::function<uint8_t(bool, void*)> handler, void* data)
    {
        if (buffer_ptr == nullptr || buffer_size == 0)
            return 1;
        set_Lock_Handler = std::move(handler);
        lock_data = data;
        return 0;
    }

    uint8_t Enqueue(const T& data)
    {
        if (set_Lock(true) != 0)
            return 1;
        if (buffer_ptr == nullptr || get_Left_Count() <= buffer_end_offset) {
            set_Lock(false);
            return 2;
        }
        unsigned int rear = buffer_rear.load(std::memory_order_relaxed);
        buffer_ptr[rear] = data;
        buffer_rear.store(next_Index(rear), std::memory_order_release);
        set_Lock(false);
        return 0;
    }

    uint8_t Dequeue(T* data)
    {
        if (set_Lock(true) != 0)
            return 1;
        if (buffer_ptr == nullptr || get_Count() == 0 || data == nullptr) {
            set_Lock(false);
            return 2;
        }
        unsigned int front = buffer_front.load(std::memory_order_relaxed);
        *data = buffer_ptr[front];
        buffer_front.store(next_Index(front), std::memory_order_release);
        set_Lock(false);
        return 0;
    }

    // Callable without the lock (the transmit thread polls it): the indices
    // are atomics, so a concurrent read sees an old or a new count, never a torn one.
    unsigned int get_Count() const
    {
        unsigned int rear = buffer_rear.load(std::memory_order_acquire);
        unsigned int front = buffer_front.load(std::memory_order_acquire);
        if (rear >= front)
            return rear - front;
        return rear + buffer_size - front;
    }

    unsigned int get_Left_Count() const { return buffer_size - get_Count(); }

private:
    uint8_t set_Lock(bool enable)
    {
        if (!set_Lock_Handler)
            return 0;
        return set_Lock_Handler(enable, lock_data);
    }

    unsigned int next_Index(unsigned int index) const
    {
        ++index;
        return index == buffer_size ? 0 : index;
    }

    T* buffer_ptr;
    const unsigned int buffer_end_offset;
    unsigned int buffer_size;
    std::atomic<unsigned int> buffer_rear;
    std::atomic<unsigned int> buffer_front;
    void* lock_data;
    std::function<uint8_t(bool, void*)> set_Lock_Handler;
};

// The lock handler for a queue shared through a pthread mutex (`data`).
inline uint8_t set_Mutex_Lock(bool enable, void* data)
{
    if (data == nullptr)
        return 1;
    pthread_mutex_t* mutex = static_cast<pthread_mutex_t*>(data);
    if (enable)
        pthread_mutex_lock(mutex);
    else
        pthread_mutex_unlock(mutex);
    return 0;
}

#endif
