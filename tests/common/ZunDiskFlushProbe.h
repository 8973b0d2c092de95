#pragma once

// Counts the flushes to the disk (fsync, fdatasync) that the GUI thread waits for: the
// test program's own definitions stand in for the C library's (every library of the
// program calls them) and hand on to it. Include it in one source file of a test.
#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <dlfcn.h>

namespace ZunDiskFlushProbe
{
inline std::atomic<int>& guiFlushes()
{
    static std::atomic<int> n {0};
    return n;
}

inline int handOn(const char* name, int fd)
{
    using Flush = int (*)(int);
    const auto real = reinterpret_cast<Flush>(::dlsym(RTLD_NEXT, name));
    if (QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread())
        ++guiFlushes();
    return real ? real(fd) : 0;
}
} // namespace ZunDiskFlushProbe

extern "C" int fsync(int fd) { return ZunDiskFlushProbe::handOn("fsync", fd); }
extern "C" int fdatasync(int fd) { return ZunDiskFlushProbe::handOn("fdatasync", fd); }
