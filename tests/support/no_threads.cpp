// Preloaded into a program under test (LD_PRELOAD): no thread can be made,
// as on a host out of memory or at its process limit.
#include <errno.h>
#include <pthread.h>

extern "C" int pthread_create(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*)
{
    return EAGAIN;
}
