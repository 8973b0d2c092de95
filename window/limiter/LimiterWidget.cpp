#include "LimiterWidget.h"

#include "CZun.h"
#include "CZunFIRLimManager.h"
#include "LimTableDelegate.h"
#include "ZunLimModel.h"

#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMutexLocker>
#include <QPushButton>
#include <QSettings>
#include <QTableView>
#include <QVBoxLayout>

LimiterWidget::LimiterWidget(QSharedPointer<CZun> zun, QWidget* parent) : QWidget(parent), m_zun(std::move(zun))
{
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(1);
    layout->setContentsMargins(6, 3, 6, 3);

    m_view = new QTableView(this);
    m_view->setMinimumSize(880, 320);
    m_delegate = new LimTableDelegate(m_zun, m_view);
    m_view->setItemDelegate(m_delegate);
    connect(m_delegate, &LimTableDelegate::colSizeChangedLim, this, &LimiterWidget::resizeCol);
    layout->addWidget(m_view);

    auto* row = new QHBoxLayout;
    m_submit = new QPushButton(tr("Submit"), this);
    m_submit->setMaximumWidth(120);
    m_submit->setAutoDefault(false);
    const QSettings settings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl"));
    const QColor inactive = settings.value(QStringLiteral("ColorButtonInactive")).value<QColor>();
    m_submit->setStyleSheet(submitStyle(inactive, m_submit->palette().color(QPalette::Button)));
    m_submit->setEnabled(false);
    connect(m_submit, &QPushButton::clicked, this, &LimiterWidget::onSubmit);
    row->addWidget(m_submit);

    if (m_zun && m_zun->GetHardwareInfo().isDoubleBoard()) {
        m_link = new QCheckBox(tr("Link DSP1 and DSP2"), this);
        connect(m_link, &QCheckBox::clicked, this, &LimiterWidget::onCheckSameFIR);
        // A window opened on linked sets shows them linked.
        if (const CZunFIRLimManager* fir = m_zun->GetFIRLimManager())
            m_link->setChecked(fir->FirFiltersLinked());
        row->addWidget(m_link);
    } else {
        row->addStretch();
    }

    m_unitCombo = new QComboBox(this);
    m_unitCombo->setMaximumWidth(100);
    m_unitCombo->addItem(tr("Watts"), int(ZunC::Watt));
    m_unitCombo->addItem(tr("dBu"), int(ZunC::dBu));
    m_unitCombo->addItem(tr("dBV"), int(ZunC::dBV));
    m_unitCombo->addItem(tr("Volts peak"), int(ZunC::VoltPeak));
    m_unitCombo->addItem(tr("Volts RMS"), int(ZunC::VoltRms));
    connect(m_unitCombo, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &LimiterWidget::setUnit);
    row->addWidget(m_unitCombo);

    m_referenceCombo = new QComboBox(this);
    m_referenceCombo->setMaximumWidth(140);
    m_referenceCombo->addItem(tr("Refer to amp out"), int(ZunC::AmplifierOutput));
    m_referenceCombo->addItem(tr("Refer to Zun out"), int(ZunC::ControllerOutput));
    connect(m_referenceCombo, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &LimiterWidget::setReference);
    row->addWidget(m_referenceCombo);
    row->addStretch();
    layout->addLayout(row);

    m_model = new ZunLimModel(m_zun, this);
    m_view->setModel(m_model);
    connect(m_model, &ZunLimModel::signal_exception, this, &LimiterWidget::signal_exception);
    connect(m_model, &ZunLimModel::dataChanged, this, &LimiterWidget::onModified, Qt::QueuedConnection);
    connect(m_model, &ZunLimModel::modelReset, this, &LimiterWidget::onModelReset, Qt::QueuedConnection);
    connect(this, &LimiterWidget::unitAndReferenceChanged, m_model, &ZunLimModel::setUnitAndReference,
            Qt::QueuedConnection);
    if (m_zun && m_zun->GetFIRLimManager())
        connect(m_zun->GetFIRLimManager(), &CZunFIRLimManager::signal_FirFiltersLinked, this,
                &LimiterWidget::setCheckSameFIR, Qt::QueuedConnection);

    m_unitCombo->setCurrentIndex(0);
    setUnit(0);
}

void LimiterWidget::setUnit(int index)
{
    const auto unit = ZunC::Units(m_unitCombo->itemData(index).toInt());
    if (unit != ZunC::Watt)
        emit unitAndReferenceChanged(unit, ZunC::LimiterReference(m_referenceCombo->currentData().toInt()));
    else
        emit unitAndReferenceChanged(ZunC::Watt, ZunC::AmplifierOutput);
    m_referenceCombo->setEnabled(unit != ZunC::Watt);
}

void LimiterWidget::setReference(int index)
{
    emit unitAndReferenceChanged(ZunC::Units(m_unitCombo->currentData().toInt()), ZunC::LimiterReference(index));
}

void LimiterWidget::on_connect() {}

void LimiterWidget::on_disconnect() {}

QString LimiterWidget::submitStyle(const QColor& enabled, const QColor& button)
{
    // Disabled is the plain button with a text that reads on it: in the alarm colour, with
    // dark text, it read badly and looked like a fault.
    const QColor text = QColor::fromHsl(0, 0, button.lightness() < 140 ? 230 : 40);
    return QStringLiteral("QPushButton {background-color: %1;} QPushButton:disabled {background-color: %2; color: %3;}")
        .arg(enabled.name(), button.name(), text.name());
}

void LimiterWidget::onModified() { m_submit->setEnabled(true); }

void LimiterWidget::onCheckSameFIR(bool linked)
{
    if (m_zun && m_zun->GetFIRLimManager())
        m_zun->GetFIRLimManager()->SetFirFiltersLinked(linked);
}

void LimiterWidget::setCheckSameFIR(bool linked)
{
    if (m_link)
        m_link->setChecked(linked);
}

void LimiterWidget::onSubmit()
{
    if (!m_zun)
        return;
    QMutexLocker lock(&m_mutex);
    m_model->submitted();
    m_zun->InvokeUpdateLimiter(0);
}

void LimiterWidget::onModelReset()
{
    // Edits typed while a submit was under way are still to be sent.
    m_submit->setEnabled(m_model->carriesEdits());
    m_view->resizeColumnsToContents();
}

void LimiterWidget::resizeCol(int column) { m_view->resizeColumnToContents(column); }
