#pragma once

// A small disk of the test's own: a tmpfs of a few megabytes mounted over a folder, that
// the test can fill to the last byte. The mount lives in a mount namespace of the test
// process alone (enterPrivateMounts, called first in main, before any thread), so nothing
// outside the process sees it and the user's disks are never filled. Needs root; without
// it ok() is false and the test skips.
//
// Header-only so that the tests of any folder can use it.

#include <QByteArray>
#include <QDir>
#include <QString>

#include <cerrno>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

class ZunSmallDisk
{
public:
    // The process's own mount namespace, its mounts private; false when that is not allowed.
    static bool enterPrivateMounts()
    {
        privateMounts() = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0
            && ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        return privateMounts();
    }

    ZunSmallDisk(const QString& folder, int megabytes) : m_folder(QDir(folder).absolutePath())
    {
        const QByteArray options = "size=" + QByteArray::number(megabytes) + "m";
        m_mounted = privateMounts()
            && ::mount("zunsmalldisk", m_folder.toLocal8Bit().constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                       options.constData())
                == 0;
    }
    // Detached: files the program still holds open there do not keep it.
    ~ZunSmallDisk()
    {
        if (m_mounted)
            ::umount2(m_folder.toLocal8Bit().constData(), MNT_DETACH);
    }
    ZunSmallDisk(const ZunSmallDisk&) = delete;
    ZunSmallDisk& operator=(const ZunSmallDisk&) = delete;

    bool ok() const { return m_mounted; }

    // What the disk has free, in bytes (-1 when it can not tell).
    qint64 freeBytes() const
    {
        struct statvfs s {};
        return ::statvfs(m_folder.toLocal8Bit().constData(), &s) == 0 ? qint64(s.f_bavail) * qint64(s.f_frsize) : -1;
    }

    // Fills the disk until it refuses a byte more, then gives back leave bytes (whole
    // pages, as freeBytes() counts them); true when it did.
    bool fill(qint64 leave = 0) const
    {
        const QByteArray path = (m_folder + QStringLiteral("/.filler")).toLocal8Bit();
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0)
            return false;
        const QByteArray block(4096, 'x');
        bool full = false;
        for (;;) {
            const ssize_t n = ::write(fd, block.constData(), size_t(block.size()));
            if (n < 0) {
                full = errno == ENOSPC;
                break;
            }
            if (n < block.size()) { // the last pages: byte by byte up to the end
                for (char c = 'x'; ::write(fd, &c, 1) == 1;) {
                }
                full = errno == ENOSPC;
                break;
            }
        }
        const off_t size = ::lseek(fd, 0, SEEK_END);
        if (full && leave > 0)
            full = size >= leave && ::ftruncate(fd, size - leave) == 0;
        ::close(fd);
        return full;
    }

    // The disk as a read-only folder is (even root can not change it); true when it is.
    bool makeReadOnly() const
    {
        return m_mounted
            && ::mount(nullptr, m_folder.toLocal8Bit().constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

private:
    static bool& privateMounts()
    {
        static bool entered = false;
        return entered;
    }

    QString m_folder;
    bool m_mounted = false;
};
