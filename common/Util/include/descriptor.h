#ifndef LUMERION_DESCRIPTOR_H
#define LUMERION_DESCRIPTOR_H

#include <unistd.h>

// A file descriptor that is closed when it goes out of scope, on every path.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor()
    {
        if (fd >= 0)
            close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd; }
    // Closes now, reporting the error a delayed write-back may only show here.
    int release()
    {
        int rc = close(fd);
        fd = -1;
        return rc;
    }

private:
    int fd;
};

#endif
