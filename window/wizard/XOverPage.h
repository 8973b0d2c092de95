#pragma once

#include <QSharedPointer>
#include <QVariant>
#include <QWizardPage>

class CZun;
class QCheckBox;
class QLabel;
class QPushButton;
class QWizardComboBox;

// The wizard's crossover page: IIR or FIR crossovers and, for FIR, the file of each DSP.
// Accepts files only when their sample rates agree, and copies each file's multipath
// mode and clock into the fields the later pages and the caller read.
class XOverPage : public QWizardPage
{
    Q_OBJECT
public:
    explicit XOverPage(QSharedPointer<CZun> zun, QWidget* parent = nullptr);
    ~XOverPage() override;

    // Why a FIR set at rate can not run on zun, empty when it can: a rate that no clock of
    // its DSPs runs, or, where the clock stays as it is (clockStays), a rate other than the
    // one the processor runs. A set without a rate of its own runs at any.
    static QString sampleRateRefusal(const CZun& zun, double rate, bool clockStays);

    void initializePage() override;
    bool validatePage() override;
    bool isComplete() const override;

public slots:
    void onButtonBrowse1();
    void onButtonBrowse2();
    void onXOverChanged(QVariant value);
    void syncFIR(bool same);
    void onFIRFilter1Changed(QVariant value);
    void onFIRFilter2Changed(QVariant value);

private:
    // What a file choice accepts: a typed path waits until the operator leaves the field
    // or presses Next; any other choice is checked at once.
    void onFIRFilterChanged(int dsp, const QString& path);
    // Validates the set at path against the other DSP's. asked: the operator asked for the
    // check (left the field, or Next), so a path that names no file is refused with a box.
    void checkFIRFilter(int dsp, const QString& path, bool asked = false);
    void browse(QWizardComboBox* choice);
    // The box that refuses the file at path, once for each check the operator asks for:
    // Return leaves the field (a check) and presses Next (the same path again).
    void refuseFile(int dsp, const QString& path, const QString& title, const QString& text);
    // Back to the prompt of item 0, forgetting a refused file.
    void resetChoice(QWizardComboBox* choice);
    bool isDoubleBoard() const;
    void setDsp2Visible(bool visible);

    QSharedPointer<CZun> m_zun;
    QWizardComboBox* m_xover;
    QCheckBox* m_same;
    QLabel* m_label1;
    QWizardComboBox* m_file1;
    QPushButton* m_browse1;
    QLabel* m_label2;
    QWizardComboBox* m_file2;
    QPushButton* m_browse2;
    int m_clock = 0;
    bool m_valid1 = false;
    bool m_valid2 = false;
    // A typed path not yet checked: Next stays offered, and checks it.
    bool m_typed1 = false;
    bool m_typed2 = false;
    // The path whose refusal was shown last, until the choice changes.
    QString m_refused1;
    QString m_refused2;
};
