// The routing picture: which pictures its layers take for presets, multipath and copy
// modes, the blocks that stand in for missing pictures, and that the generated resources
// hold a picture for every preset the routing libraries define.
#include "CCmdMap.h"
#include "CRoutingLibrary.h"
#include "RoutingPictureGeometry.h"
#include "RoutingRenderArea.h"

#include <QFileInfo>
#include <QtTest>

class TestRoutingRenderArea : public QObject
{
    Q_OBJECT

    QSharedPointer<CCmdMap> m_map;
    QSharedPointer<CRoutingLibrary> m_library;

    static QString picture(const RoutingRenderArea& a, int layer) { return QFileInfo(a.layerName(layer)).fileName(); }
    CZunFullRoutingPreset full(const char* digits) const
    {
        return CZunFullRoutingPreset(m_map, QStringLiteral("Inf_FR_") + QLatin1String(digits));
    }
    static QColor centre(const QPixmap& p) { return p.toImage().pixelColor(p.width() / 2, p.height() / 2); }

private slots:
    void initTestCase()
    {
        m_map = QSharedPointer<CCmdMap>::create();
        m_map->setVersion(1080);
        m_library = QSharedPointer<CRoutingLibrary>::create(m_map);
    }

    void startsWithBaseNoMultipathAndSingleSignalPaths()
    {
        RoutingRenderArea a;
        const RoutingPictureGeometry::Rect base = RoutingPictureGeometry::Layers[0];
        QCOMPARE(a.layer(RoutingRenderArea::Base).size(), QSize(base.w, base.h));
        QCOMPARE(picture(a, RoutingRenderArea::Multipath1), QStringLiteral("MP_NONE.png"));
        QCOMPARE(picture(a, RoutingRenderArea::SignalPath2), QStringLiteral("SP_1_1_1_1.png"));
        QVERIFY(a.layer(RoutingRenderArea::Routing).isNull());
        QVERIFY(a.composite().isNull());
    }

    void sizeHintFollowsTheScreen_data()
    {
        QTest::addColumn<int>("screenHeight");
        QTest::addColumn<QSize>("hint");
        QTest::newRow("1024x600") << 600 << QSize(549, 277);
        QTest::newRow("1280x1024") << 1024 << QSize(784, 396);
        QTest::newRow("exactly 768") << 768 << QSize(784, 396);
    }
    void sizeHintFollowsTheScreen()
    {
        QFETCH(int, screenHeight);
        QFETCH(QSize, hint);
        QCOMPARE(RoutingRenderArea::sizeHintFor(QSize(784, 396), screenHeight), hint);
    }

    void copyModeAndMultipathPictures()
    {
        RoutingRenderArea a;
        a.setMultipath1(QVariant(1));
        a.setCopyFIRCoeffs1(QVariant(1));
        QCOMPARE(picture(a, RoutingRenderArea::Multipath1), QStringLiteral("MP_MHMH.png"));
        a.setMultipath1(ZunC::MultipathMode(2));
        QCOMPARE(picture(a, RoutingRenderArea::Multipath1), QStringLiteral("MP_LM.png"));
        QCOMPARE(a.copyMode1(), 0);
        a.setMultipath1(QVariant(1));
        QCOMPARE(picture(a, RoutingRenderArea::Multipath1), QStringLiteral("MP_MH.png"));
        // DSP 2 kept its own state throughout.
        QCOMPARE(picture(a, RoutingRenderArea::Multipath2), QStringLiteral("MP_NONE.png"));

        // A copy is refused in Lo+Mid+Hi.
        a.setMultipath2(QVariant(3));
        a.setCopyFIRCoeffs2(QVariant(1));
        QCOMPARE(a.copyMode2(), 0);
        QCOMPARE(picture(a, RoutingRenderArea::Multipath2), QStringLiteral("MP_LMH.png"));

        // An unknown mode names no picture and leaves its layer white.
        a.setMultipath2(QVariant(7));
        QVERIFY(!a.layerFound(RoutingRenderArea::Multipath2));
        QCOMPARE(centre(a.layer(RoutingRenderArea::Multipath2)), QColor(Qt::white));
    }

    void missingPicturesBecomeColouredBlocks()
    {
        RoutingRenderArea a;
        a.setFullRoutingPreset(full("10000000000011111111000000100000"));
        const QSize routingSize = a.layer(RoutingRenderArea::Routing).size();
        QVERIFY(a.layerFound(RoutingRenderArea::Routing));
        a.setRoutingPreset(CZunRoutingPreset()); // a routing that matches no preset
        QCOMPARE(picture(a, RoutingRenderArea::Routing), QStringLiteral("_2.png"));
        QCOMPARE(a.layer(RoutingRenderArea::Routing).size(), routingSize);
        QCOMPARE(centre(a.layer(RoutingRenderArea::Routing)), QColor(255, 85, 85));
        QCOMPARE(centre(a.layer(RoutingRenderArea::InputRouting)), QColor(114, 159, 207));
        // The block sits where the routing picture would.
        const RoutingPictureGeometry::Rect r = RoutingPictureGeometry::Layers[RoutingRenderArea::Routing];
        QCOMPARE(a.composite().toImage().pixelColor(r.x + 5, r.y + 5), QColor(255, 85, 85));
    }

    void signalPathsFollowFanOutAndMultipath()
    {
        RoutingRenderArea a;
        a.setFullRoutingPreset(full("10000000000001100110001010000000")); // bit 7: 1->2
        QCOMPARE(picture(a, RoutingRenderArea::SignalPath1), QStringLiteral("SP_2A_2A.png"));
        QCOMPARE(picture(a, RoutingRenderArea::SignalPath2), QStringLiteral("SP_2A_2A.png"));
        a.setMultipath1(ZunC::MultipathMode(1));
        QCOMPARE(picture(a, RoutingRenderArea::SignalPath1), QStringLiteral("SP_2P_2P.png"));
        QCOMPARE(picture(a, RoutingRenderArea::SignalPath2), QStringLiteral("SP_2A_2A.png"));
        QCOMPARE(picture(a, RoutingRenderArea::InputRouting), QStringLiteral("IR_41_RP_41_2.png"));
        // 2 x Mid+High serves both ways of each pair too: the split is passive
        a.setMultipath2(ZunC::MultipathMode(4));
        QCOMPARE(picture(a, RoutingRenderArea::SignalPath2), QStringLiteral("SP_2P_2P.png"));
        a.setMultipath2(ZunC::MultipathMode(2));
        QCOMPARE(picture(a, RoutingRenderArea::SignalPath2), QStringLiteral("SP_2A_2A.png"));
    }

    // Every preset of every firmware's library has its pictures: a coloured block in the
    // tab means a preset the library does not know, never a gap in the resources.
    void everyLibraryPresetHasItsPictures()
    {
        RoutingRenderArea a;
        for (quint16 version : CCmdMap::versions()) {
            auto map = QSharedPointer<CCmdMap>::create();
            map->setVersion(version);
            const CRoutingLibrary library(map);
            for (const CZunRoutingPreset& routing : library.GetRoutingPresets())
                for (const CZunInputPreset& input : library.GetInputPresets(routing)) {
                    const QString name = QStringLiteral(":/resources/%1_%2_2.png").arg(input.getName(), routing.getName());
                    QVERIFY2(QFileInfo::exists(name), qPrintable(name));
                }
            for (const CZunFullRoutingPreset& f : library.GetFullRoutingPresets()) {
                a.setFullRoutingPreset(f);
                for (int layer : {1, 2, 5, 6})
                    QVERIFY2(a.layerFound(layer), qPrintable(a.layerName(layer)));
                const RoutingPictureGeometry::Rect r = RoutingPictureGeometry::Layers[RoutingRenderArea::InputRouting];
                QCOMPARE(a.layer(RoutingRenderArea::InputRouting).size(), QSize(r.w, r.h));
            }
        }
        QCOMPARE(m_library->GetRoutingPresets().size() * m_library->GetInputPresets(CZunRoutingPreset()).size(), 207);
    }
};

QTEST_MAIN(TestRoutingRenderArea)
#include "tst_routingrenderarea.moc"
