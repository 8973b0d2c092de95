#pragma once

// A bench that needs the processors' UDP port runs in a network namespace of its own with
// only its loopback up: the port is free there, and nothing it sends leaves the namespace.
// Call it first in main(), before any thread or child process starts (they inherit it).
#include <cstring>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

// False when not allowed (not root): the bench then runs on this host's loopback.
inline bool zunEnterPrivateNetns()
{
    if (::geteuid() != 0 || ::unshare(CLONE_NEWNET) != 0)
        return false;
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ifreq ifr {};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    const bool up = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &ifr) == 0
                    && (ifr.ifr_flags |= IFF_UP, ::ioctl(fd, SIOCSIFFLAGS, &ifr) == 0);
    if (fd >= 0)
        ::close(fd);
    return up;
}
