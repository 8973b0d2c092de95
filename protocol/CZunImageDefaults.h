#pragma once

#include <QByteArray>
#include <QVector>

// What the command tables say about the parameter image of one firmware version: the
// factory-default image (1,700 words indexed by command number) and the raw range a
// processor accepts for each command number. Used by the emulator and to make the
// default setup images. The defaults and ranges come from tables/image.tsv, resolved
// against the version's command map; a table that does not resolve throws
// std::runtime_error at the first use (it is a build fault, caught by the tests).
class CZunImageDefaults
{
public:
    static constexpr int ImageWords = 1700;
    static constexpr int SetupNameByte = 3376; // 24 bytes, blank-padded
    static constexpr int SetupNameLength = 24;

    // The default image of that firmware version; empty for a version without tables.
    static QVector<quint16> defaultImage(quint16 version);
    // The same as 3,400 little-endian bytes.
    static QByteArray defaultImageBytes(quint16 version);

    // The raw range (as the processor compares it: signed when min < 0) that the
    // processor accepts for command number cmd. False when the tables give no range:
    // then any 16-bit value is accepted.
    static bool rawRange(quint16 version, quint16 cmd, int* min, int* max);

    // True when cmd is a command of that version: a "Cmd_" name of its table, a word of
    // its EQ or filter pools, or a numbered row of the image table (command 19 before
    // it was named). Frame ids (0xFF00 ...) are not commands in this sense.
    static bool isKnownCommand(quint16 version, quint16 cmd);
};
