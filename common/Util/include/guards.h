#ifndef LUMERION_GUARDS_H
#define LUMERION_GUARDS_H

#include <stdio.h>
#include <unistd.h>

#include <memory>

// A file descriptor that is closed when it goes out of scope, on every path.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd(fd) {}
    ~Descriptor()
    {
        if (fd >= 0)
            close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    // A descriptor handed from one owner to the next is closed once, by the last.
    Descriptor(Descriptor&& other) noexcept : fd(other.take()) {}
    Descriptor& operator=(Descriptor&& other) noexcept
    {
        if (this != &other)
            reset(other.take());
        return *this;
    }
    int get() const { return fd; }
    // Takes `other` in place of the descriptor held, which is closed.
    void reset(int other)
    {
        if (fd >= 0)
            close(fd);
        fd = other;
    }
    // Hands the descriptor over to the caller, who closes it from now on.
    int take()
    {
        int taken = fd;
        fd = -1;
        return taken;
    }
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

// For streams the daemon reads: their close has nothing to report.
struct File_Closer {
    void operator()(FILE* file) const { (void)fclose(file); }
};

// A stdio stream that is closed when it goes out of scope, on every path.
using File_Stream = std::unique_ptr<FILE, File_Closer>;

#endif
