#pragma once

// A device object that is not connected, for the EQ and crossover-filter tables: records
// are put into its image by the test and decoded by its EQ manager; every group the tables
// make it send is recorded.
#include "CEQManager.h"
#include "CZunBiquad.h"
#include "CZunHighOrderFilter.h"
#include "CZunImageDefaults.h"
#include "CZunStatusBuffer.h"
#include "DeviceTestRig.h"
#include "ZunBaseComm.h"

#include <QCoreApplication>
#include <QSharedPointer>

#include <functional>
#include <stdexcept>

class TableRig
{
public:
    TableRig() { registerTypes(); }

    static void registerTypes()
    {
        qRegisterMetaType<CZunBiquad*>();
        qRegisterMetaType<CZunHighOrderFilter*>();
        qRegisterMetaType<EQ_PARAMS>();
        qRegisterMetaType<HO_FILTER_PARAMS>();
        qRegisterMetaType<QSharedPointer<CZun>>();
    }

    void makeDevice(quint16 fw = 1080)
    {
        zun.reset(new CZun(DeviceTestRig::record(fw, 42), DeviceTestRig::map(fw), QSharedPointer<CRoutingLibrary>()));
        QMetaObject::invokeMethod(zun->GetLink(), []() {}, Qt::BlockingQueuedConnection);
        img()->setImage(CZunImageDefaults::defaultImageBytes(fw));
        QCoreApplication::processEvents();
        eq()->Rebuild();
        sent.attach(zun.get());
        sent.clear();
    }

    CZunStatusBuffer* img() const { return zun->GetStatusBuffer(); }
    CEQManager* eq() const { return zun->GetEQManager(); }
    quint16 nr(const char* name) const { return zun->GetCmdMap()->getCmdNr(name); }
    int eqCount() const { return zun->GetCmdMap()->getIntConst("Inf_DSP_EQ_AnzSet"); }
    void link(bool on) { img()->setValue(nr("Cmd_SetupFlags"), on ? 2 : 0); }
    // The processing rate the processor reports (its status), in Hz.
    void rate(int hz) { zun->UpdateProcessingPower(hz, hz, 0, 0); }
    // The processor takes every word sent so far into its image (as its replies would).
    void acceptSent()
    {
        for (const auto& c : sent.commands())
            img()->setValue(c.first, c.second);
    }

    // An EQ record: type word (bit 14 bypassed, bit 15 flag), frequency, quality and gain
    // words, local bank.
    void putEQ(int n, quint16 w0, quint16 w1, quint16 w2, quint16 w3, quint16 w4)
    {
        const quint16 b = eq()->eqRecordBase(n);
        const quint16 w[5] = {w0, w1, w2, w3, w4};
        for (int i = 0; i < 5; ++i)
            img()->setValue(quint16(b + i), w[i]);
    }
    QList<quint16> eqWords(int n) const
    {
        const quint16 b = eq()->eqRecordBase(n);
        QList<quint16> out;
        for (int i = 0; i < 5; ++i)
            out << img()->getValue(quint16(b + i));
        return out;
    }
    // A new filter object on a slot with the given design (nothing is sent).
    CZunHighOrderFilter* newFilter(int slot, quint16 passband, quint16 characteristic, quint16 order, float frequency)
    {
        CZunHighOrderFilter* f = eq()->CreateHighOrderFilter(slot);
        f->setPassband(passband);
        f->setCharacteristic(characteristic);
        f->setOrder(order);
        f->SetFrequency(frequency);
        return f;
    }

    static QString failure(const std::function<void()>& f)
    {
        try {
            f();
        } catch (const std::logic_error& e) {
            return QString::fromStdString(e.what());
        }
        return QString();
    }

    DeviceTestRig::Config config;
    QSharedPointer<CZun> zun;
    DeviceTestRig::SendLog sent;
};
