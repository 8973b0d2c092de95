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

struct TableRig
{
    static void registerTypes()
    {
        qRegisterMetaType<CZunBiquad*>();
        qRegisterMetaType<CZunHighOrderFilter*>();
        qRegisterMetaType<EQ_PARAMS>();
        qRegisterMetaType<HO_FILTER_PARAMS>();
        qRegisterMetaType<QSharedPointer<CZun>>();
    }
    TableRig() { registerTypes(); }

    void makeDevice()
    {
        zun.reset(new CZun(DeviceTestRig::record(1080, 42), DeviceTestRig::map(1080), QSharedPointer<CRoutingLibrary>()));
        QMetaObject::invokeMethod(zun->GetLink(), []() {}, Qt::BlockingQueuedConnection);
        zun->GetStatusBuffer()->setImage(CZunImageDefaults::defaultImageBytes(1080));
        QCoreApplication::processEvents();
        eq()->Rebuild();
        sent.attach(zun.get());
        sent.clear();
    }
    CEQManager* eq() const { return zun->GetEQManager(); }
    int eqCount() const { return zun->GetCmdMap()->getIntConst("Inf_DSP_EQ_AnzSet"); }
    void link(bool on) { zun->GetStatusBuffer()->setValue(zun->GetCmdMap()->getCmdNr("Cmd_SetupFlags"), on ? 2 : 0); }
    // The processing rate the processor reports, in Hz.
    void rate(int hz) { zun->UpdateProcessingPower(hz, hz, 0, 0); }
    // The processor takes every word sent so far (as its replies would).
    void acceptSent()
    {
        for (const auto& c : sent.commands())
            zun->GetStatusBuffer()->setValue(c.first, c.second);
    }
    // An EQ record: type word (bit 14 bypassed), frequency, quality and gain words, local bank.
    void putEQ(int n, quint16 w0, quint16 w1, quint16 w2, quint16 w3, quint16 w4)
    {
        const quint16 w[5] = {w0, w1, w2, w3, w4};
        for (int i = 0; i < 5; ++i)
            zun->GetStatusBuffer()->setValue(quint16(eq()->eqRecordBase(n) + i), w[i]);
    }
    QList<quint16> eqWords(int n) const
    {
        QList<quint16> out;
        for (int i = 0; i < 5; ++i)
            out << zun->GetStatusBuffer()->getValue(quint16(eq()->eqRecordBase(n) + i));
        return out;
    }
    // A new filter object on a slot (nothing is sent).
    CZunHighOrderFilter* newFilter(int slot, quint16 passband, quint16 characteristic, quint16 order, float frequency)
    {
        CZunHighOrderFilter* f = eq()->CreateHighOrderFilter(slot);
        f->setPassband(passband);
        f->setCharacteristic(characteristic);
        f->setOrder(order);
        f->SetFrequency(frequency);
        return f;
    }

    DeviceTestRig::Config config;
    QSharedPointer<CZun> zun;
    DeviceTestRig::SendLog sent;
};
