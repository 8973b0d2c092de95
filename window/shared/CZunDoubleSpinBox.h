#pragma once

#include <QDoubleSpinBox>

class CZunParam;

// A floating-point editor whose arrows, keys and wheel step along a parameter's breakpoint
// table (fine at the bottom of a range, coarse at the top). A finished edit is announced
// once with valueChangedEditFinished; the creator connects editingFinished() to
// onEditingFinished() where typed entries count too.
class CZunDoubleSpinBox : public QDoubleSpinBox
{
    Q_OBJECT
public:
    explicit CZunDoubleSpinBox(const CZunParam* param, QWidget* parent = nullptr);

    // Ignored while a key is held, so that the device's echo of an earlier step does not
    // pull the value back under the operator's finger.
    void setValueGuarded(double value);
    bool isKeyHeld() const { return m_keyHeld; }

    void stepBy(int steps) override;

signals:
    void valueChangedEditFinished(double value);

public slots:
    void onEditingFinished();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void setAndAnnounce(double value);

    const CZunParam* m_param;
    bool m_keyHeld = false;
};
