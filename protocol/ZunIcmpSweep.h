#pragma once

#include "CMacAddr.h"

#include <QHostAddress>
#include <QList>
#include <QString>

// The platform part of the network scan (Linux): ICMP echo requests to a list of hosts,
// then the kernel's neighbour table, which the echoes have filled with the MAC address of
// every host that answered ARP. Blocking; runs in the caller's thread.
class ZunIcmpSweep
{
public:
    struct Neighbour
    {
        QHostAddress ip;
        CMacAddr mac;
        QString device;
    };

    // Sends one echo request to each host and waits up to timeoutMs for the replies (less
    // when every host has answered). Uses an unprivileged ICMP datagram socket and falls
    // back to a raw socket where ping_group_range refuses that. False with *error when no
    // ICMP socket can be opened at all; a host that cannot be reached is not an error.
    bool ping(const QList<QHostAddress>& hosts, int timeoutMs, QString* error);
    int repliesReceived() const { return m_replies; }

    // The complete entries of the neighbour table (the calling thread's network namespace).
    static QList<Neighbour> neighbours();
    // Parses the text of /proc/net/arp.
    static QList<Neighbour> parseArpTable(const QByteArray& text);

    // The Internet checksum of an ICMP message.
    static quint16 checksum(const QByteArray& data);
    // Whether a received datagram is an echo reply to our requests (identifier id): with
    // its IPv4 header in front (a raw socket, which hands over every ICMP message of the
    // host) or without (an ICMP datagram socket, whose kernel matches the identifier).
    static bool isEchoReply(const char* data, int size, bool withIpHeader, quint16 id);

private:
    int m_replies = 0;
};
