#include "XOverPage.h"

#include "CZun.h"
#include "CZunFIRLimManager.h"
#include "FilterLimiterEWS.h"
#include "MultipathClockPage.h"
#include "QWizardComboBox.h"
#include "ZunFileDialog.h"
#include "ZunOperatorMessage.h"
#include "ZunSettingsWriter.h"
#include "ZunWizardValues.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

namespace
{
const char* const FirstItemText = "Select from list, enter filename or browse";
}

XOverPage::XOverPage(QSharedPointer<CZun> zun, QWidget* parent) : QWizardPage(parent), m_zun(std::move(zun))
{
    setTitle(QStringLiteral("X-Over"));
    m_xover = new QWizardComboBox(false);
    m_xover->addItem(QStringLiteral("IIR"), 0);
    m_xover->addItem(QStringLiteral("FIR"), 1);
    m_same = new QCheckBox(tr("Use same FIR filter on DSP1 and DSP2"));
    m_label1 = new QLabel(tr("Enter FIR filter path for DSP1"));
    m_file1 = new QWizardComboBox(true);
    m_browse1 = new QPushButton(tr("Browse"));
    m_browse1->setMaximumWidth(100);
    m_label2 = new QLabel(tr("Enter FIR filter path for DSP2"));
    m_file2 = new QWizardComboBox(true);
    m_browse2 = new QPushButton(tr("Browse"));
    m_browse2->setMaximumWidth(100);

    auto* description = new QLabel(QStringLiteral(
        "Please select your desired crossover filters. You can either use a ready-made FIR filter or use typical IIR "
        "crossovers. In case of IIR filters, you have the option of using different multi-path options, which are "
        "pre-configured in the FIR filter already."));
    description->setWordWrap(true);
    auto* row1 = new QHBoxLayout;
    row1->addWidget(m_file1);
    row1->addWidget(m_browse1);
    auto* row2 = new QHBoxLayout;
    row2->addWidget(m_file2);
    row2->addWidget(m_browse2);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(description);
    layout->addWidget(new QLabel(QStringLiteral("X-Over type")));
    layout->addWidget(m_xover);
    layout->addWidget(m_label1);
    layout->addLayout(row1);
    layout->addWidget(m_same);
    layout->addWidget(m_label2);
    layout->addLayout(row2);

    connect(m_xover, &QWizardComboBox::currentItemDataChanged, this, &XOverPage::onXOverChanged);
    connect(m_browse1, &QPushButton::clicked, this, &XOverPage::onButtonBrowse1);
    connect(m_browse2, &QPushButton::clicked, this, &XOverPage::onButtonBrowse2);
    connect(m_same, &QCheckBox::toggled, this, &XOverPage::syncFIR);
    connect(m_file1, &QWizardComboBox::currentItemDataChanged, this, &XOverPage::onFIRFilter1Changed);
    connect(m_file2, &QWizardComboBox::currentItemDataChanged, this, &XOverPage::onFIRFilter2Changed);
    for (int dsp : {1, 2}) {
        QWizardComboBox* choice = dsp == 1 ? m_file1 : m_file2;
        connect(choice, &QWizardComboBox::typingFinished, this,
                [this, dsp, choice]() { checkFIRFilter(dsp, choice->currentItemData().toString(), true); });
    }
    registerField(QStringLiteral("XOverSelect"), m_xover);
    registerField(QStringLiteral("SameFIRonDSP12"), m_same);
    registerField(QStringLiteral("FIRPath1"), m_file1);
    registerField(QStringLiteral("FIRPath2"), m_file2);
}

XOverPage::~XOverPage() = default;

bool XOverPage::isDoubleBoard() const { return m_zun && m_zun->GetHardwareInfo().isDoubleBoard(); }

void XOverPage::setDsp2Visible(bool visible)
{
    m_label2->setVisible(visible);
    m_file2->setVisible(visible);
    m_browse2->setVisible(visible);
}

void XOverPage::initializePage()
{
    // FIR when DSP 1 runs a set of the operator's own, IIR when it runs the default one.
    int choice = 0;
    if (QShPtrFLE set = m_zun->GetFIRLimManager()->GetFIRFilter(m_zun->GetActiveFilterIndex(1)))
        choice = set->isDefaultCrossover() ? 0 : 1;

    if (!isDoubleBoard()) {
        setDsp2Visible(false);
        m_same->setVisible(false);
    }

    for (QWizardComboBox* box : {m_file1, m_file2}) {
        box->clear();
        box->addItem(QString::fromLatin1(FirstItemText), QString());
    }
    // No folder yet (never connected) means no files, not the working directory's.
    const QString configDir = m_zun->GetConfigDir();
    const QFileInfoList files =
        configDir.isEmpty() ? QFileInfoList() : QDir(configDir).entryInfoList({QStringLiteral("*.fir")});
    for (const QFileInfo& file : files) {
        // A file that cannot be read, or whose rate no clock runs, is no choice: the
        // wizard goes on with the others.
        try {
            const FilterLimiterEWS set(file.absoluteFilePath(), 48000.0);
            ZunC::clockFromSampleRate(set.sampleRate());
            for (QWizardComboBox* box : {m_file1, m_file2})
                box->addItem(set.GetName(), file.absoluteFilePath());
        } catch (const std::exception& e) {
            qWarning("XOverPage: %s left out: %s", qPrintable(file.fileName()), e.what());
        }
    }

    // From nothing: going back reset the field without moving the box, and selecting the
    // index the box already shows would not set it again.
    m_xover->setCurrentIndex(-1);
    m_xover->setCurrentIndex(choice);
    onXOverChanged(choice);
    syncFIR(m_same->isChecked());
}

void XOverPage::onXOverChanged(QVariant value)
{
    switch (value.toInt()) {
    case 0:
        m_label1->hide();
        m_file1->hide();
        m_browse1->hide();
        setDsp2Visible(false);
        m_same->hide();
        break;
    case 1:
        m_label1->show();
        m_file1->show();
        m_browse1->show();
        if (isDoubleBoard()) {
            setDsp2Visible(true);
            m_same->show();
        }
        break;
    default: break;
    }
    emit completeChanged();
}

void XOverPage::syncFIR(bool same)
{
    if (same) {
        const QString previous = m_file2->currentText();
        m_file2->setCurrentIndex(m_file1->currentIndex());
        if (m_file1->isEditable()) {
            m_file2->setEditText(m_file1->currentText());
            // An unchanged text sends no change signal: validate it here.
            if (m_file1->currentText() == previous)
                onFIRFilter2Changed(m_file1->currentText());
        }
        setDsp2Visible(false);
    } else if (field(QStringLiteral("XOverSelect")).toInt() == 1) {
        setDsp2Visible(true);
    }
}

void XOverPage::onFIRFilter1Changed(QVariant value) { onFIRFilterChanged(1, value.toString()); }
void XOverPage::onFIRFilter2Changed(QVariant value) { onFIRFilterChanged(2, value.toString()); }

QString XOverPage::sampleRateRefusal(const CZun& zun, double rate, bool clockStays)
{
    return ZunSampleRateRule::refusal(zun, rate, clockStays);
}

void XOverPage::onFIRFilterChanged(int dsp, const QString& path)
{
    QWizardComboBox* choice = dsp == 1 ? m_file1 : m_file2;
    // Another choice, or another key: its check may say why again.
    (dsp == 1 ? m_refused1 : m_refused2).clear();
    // Each key would check a path half typed ("/" is a folder, not a filter).
    if (choice->isTyping()) {
        (dsp == 1 ? m_valid1 : m_valid2) = false;
        (dsp == 1 ? m_typed1 : m_typed2) = !path.isEmpty();
        emit completeChanged();
        return;
    }
    checkFIRFilter(dsp, path);
}

void XOverPage::checkFIRFilter(int dsp, const QString& path, bool asked)
{
    bool& valid = dsp == 1 ? m_valid1 : m_valid2;
    const bool otherValid = dsp == 1 ? m_valid2 : m_valid1;
    QWizardComboBox* choice = dsp == 1 ? m_file1 : m_file2;
    (dsp == 1 ? m_typed1 : m_typed2) = false;

    // No file chosen yet, or a path left from before that names no file. A path the operator
    // typed, or goes on with, is refused by the reader, which names it.
    if (path.isEmpty() || (!asked && !QFileInfo::exists(path))) {
        valid = false;
        emit completeChanged();
        return;
    }
    int multipath = 0;
    double rate = 0.0;
    try {
        const FilterLimiterEWS set(path, 48000.0);
        multipath = set.multipathMode();
        rate = set.sampleRate();
    } catch (const std::exception& e) {
        // A damaged file is not accepted; the operator learns why instead of the wizard
        // ending.
        valid = false;
        refuseFile(dsp, path, tr("Invalid FIR filter"), ZunOperatorMessage::text(CBlockFIR::invalid_filter::textOf(e)));
        emit completeChanged();
        return;
    }
    // A rate this processor's DSPs cannot run would leave the clock without a choice
    // (and the processor on its external clock).
    const QString refusal = sampleRateRefusal(*m_zun, rate, false);
    if (!refusal.isEmpty()) {
        valid = false;
        refuseFile(dsp, path, tr("Invalid FIR filter"), refusal);
        resetChoice(choice);
        emit completeChanged();
        return;
    }
    const int clock = ZunC::clockFromSampleRate(rate);
    setField(dsp == 1 ? QStringLiteral("Multipath1") : QStringLiteral("Multipath2"), multipath);

    // DSP 2 follows DSP 1 when both use the same file; only DSP 1's rate is compared then.
    const bool same = dsp == 1 && field(QStringLiteral("SameFIRonDSP12")).toBool();
    if (otherValid && !same) {
        if (clock != m_clock) {
            QMessageBox::warning(nullptr, QStringLiteral("Invalid samplingrates"),
                                 QStringLiteral("The samplerate of the 2 selected filters do not match! Please select a "
                                                "different filter."),
                                 QMessageBox::Ok);
            resetChoice(choice);
        } else {
            valid = true;
        }
    } else {
        m_clock = clock;
        setField(QStringLiteral("Clock"), clock);
        valid = true;
        if (same) {
            m_file2->setCurrentIndex(m_file1->currentIndex());
            if (m_file2->lineEdit())
                m_file2->setEditText(path);
        }
    }
    emit completeChanged();
}

void XOverPage::refuseFile(int dsp, const QString& path, const QString& title, const QString& text)
{
    QString& shown = dsp == 1 ? m_refused1 : m_refused2;
    if (shown == path)
        return;
    shown = path;
    QMessageBox::warning(nullptr, title, text);
}

void XOverPage::resetChoice(QWizardComboBox* choice)
{
    choice->setCurrentIndex(0);
    // A typed path lives in item 0: put the prompt back, or the refused file would stay
    // the choice and come back at the next check.
    {
        const QSignalBlocker block(choice);
        choice->setItemText(0, QString::fromLatin1(FirstItemText));
        choice->setItemData(0, QString());
        if (choice->isEditable())
            choice->setEditText(QString::fromLatin1(FirstItemText));
    }
    choice->setCurrentItemData(QString());
}

void XOverPage::browse(QWizardComboBox* choice)
{
    const QString folder = QSettings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl"))
                               .value(QStringLiteral("FilterDir"), m_zun->GetConfigDir())
                               .toString();
    QString selected;
    const QString file = ZunFileDialog::openFile(this, tr("Open File"), folder, tr("Zun FIR Filter (*.fir *.blk)"),
                                                 &selected, QFileDialog::DontUseNativeDialog);
    if (!file.isEmpty()) {
        ZunSettingsWriter::store(QStringLiteral("FilterDir"), QFileInfo(file).absolutePath());
        choice->setCurrentIndex(0);
        choice->setEditText(file);
    }
    emit completeChanged();
}

void XOverPage::onButtonBrowse1() { browse(m_file1); }
void XOverPage::onButtonBrowse2() { browse(m_file2); }

bool XOverPage::validatePage()
{
    // A missing file is named only where a FIR file is needed: DSP 2's own only when it
    // does not follow DSP 1.
    const bool fir = field(QStringLiteral("XOverSelect")).toInt() == 1;
    checkFIRFilter(1, m_file1->currentData().toString(), fir);
    checkFIRFilter(2, m_file2->currentData().toString(),
                   fir && isDoubleBoard() && !field(QStringLiteral("SameFIRonDSP12")).toBool());
    // What was just re-checked decides: a file refused for its rate stops the page here.
    return isComplete();
}

bool XOverPage::isComplete() const
{
    const int kind = field(QStringLiteral("XOverSelect")).toInt();
    if (kind == 0)
        return true;
    if (kind != 1 || !(m_valid1 || m_typed1))
        return false;
    const bool twoFiles = isDoubleBoard() && !field(QStringLiteral("SameFIRonDSP12")).toBool();
    return !twoFiles || m_valid2 || m_typed2;
}
