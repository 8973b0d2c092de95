#pragma once

#include "ZunC.h"

#include <QMutex>
#include <QSharedPointer>
#include <QWidget>

class CZun;
class LimTableDelegate;
class QCheckBox;
class QComboBox;
class QPushButton;
class QTableView;
class ZunLimModel;

// The "Limiter" tab: the limiter table of every output in the chosen unit and reference
// point, the link of the two DSPs' FIR sets, and one Submit that sends the edited sets.
class LimiterWidget : public QWidget
{
    Q_OBJECT
public:
    explicit LimiterWidget(QSharedPointer<CZun> zun, QWidget* parent = nullptr);

    ZunLimModel* model() const { return m_model; }
    QTableView* view() const { return m_view; }
    QPushButton* submitButton() const { return m_submit; }
    // Submit's style: enabled in the given colour, disabled as a plain button of the given
    // colour with readable text.
    static QString submitStyle(const QColor& enabled, const QColor& button);
    QCheckBox* linkCheckBox() const { return m_link; }
    QComboBox* unitCombo() const { return m_unitCombo; }
    QComboBox* referenceCombo() const { return m_referenceCombo; }

signals:
    void unitAndReferenceChanged(ZunC::Units unit, ZunC::LimiterReference reference);
    void signal_exception(QString text, QString caption);

public slots:
    void setUnit(int index);
    void setReference(int index);
    void on_connect();
    void on_disconnect();
    void onModified();
    void onCheckSameFIR(bool linked);
    void setCheckSameFIR(bool linked);
    void onSubmit();
    void onModelReset();
    void resizeCol(int column);

private:
    QSharedPointer<CZun> m_zun;
    QMutex m_mutex;
    QTableView* m_view = nullptr;
    LimTableDelegate* m_delegate = nullptr;
    ZunLimModel* m_model = nullptr;
    QPushButton* m_submit = nullptr;
    QCheckBox* m_link = nullptr;
    QComboBox* m_unitCombo = nullptr;
    QComboBox* m_referenceCombo = nullptr;
};
