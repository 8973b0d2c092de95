#pragma once

#include <QByteArray>
#include <QSharedPointer>

class CCmdMap;
class ZunSimDevice;

// The flash and maintenance commands of the emulated processor: the memory-copy steps
// (flash entries, directory, parameter image, names, firmware pieces), setup store and
// selection, DSP boot, FIR loading, firmware check, bulk erase, PIN and IP change.
// docs/protocol.md, "Flash and maintenance operations", describes the replies.
// Every call expects the caller to hold the device's mutex.
class ZunSimOperations
{
public:
    struct Answer
    {
        bool refused = false;
        quint16 code = 0;   // Msg_Err code of a refusal
        quint16 word = 0;   // reply word otherwise
    };

    ZunSimOperations(ZunSimDevice* device, QSharedPointer<CCmdMap> map);

    // Handles a command of this group; false for any other command (a plain parameter).
    bool command(quint16 id, quint16 value, Answer* answer);
    // The data of a block read of this group (the transfer buffer, an entry's name);
    // false for another block kind. A refusal is reported in answer.
    bool blockRead(quint16 kind, QByteArray* data, Answer* answer);
    // A complete block write arrived in the transfer buffer.
    void blockWritten();
    // "Store" at the front panel: the parameters as they are, under name, at slot; the
    // "Cmd_SetupStore" word then holds the slot, for the clients to read back.
    Answer frontPanelStore(quint16 slot, const QByteArray& name);

private:
    int num(const char* name, int fallback = -1) const;
    bool is(quint16 id, const char* name) const { return int(id) == num(name); }
    quint16 word(const char* name) const;
    void setWord(const char* name, quint16 value);
    Answer refuse(const char* code) const;
    Answer ok(quint16 word) const;

    Answer memCopy(quint16 op);
    Answer upload(quint8 kind, quint8 slot);
    Answer download(quint8 kind, quint8 slot);
    Answer remove(quint8 kind, quint8 slot);
    Answer writeImage();
    Answer storeSetup(quint16 slot);
    Answer selectSetup(quint16 slot);
    Answer boot(quint16 value);
    Answer loadFir(int dsp, quint16 value);
    Answer checkFirmware(quint16 words);
    Answer erase(quint16 value);
    Answer pin(quint16 value);

    QByteArray imageBytes() const;
    // Replaces the parameter words by the image, keeping the words of the connection.
    void takeImage(const QVector<quint16>& image, bool keepConfiguration);

    ZunSimDevice* m_device;
    QSharedPointer<CCmdMap> m_map;
};
