#pragma once

// PLACEHOLDER: the full response base (512-point grid, shared vectors) is written
// alongside the biquads; this minimal form only carries what FilterLimiterEWS needs
// (the two names, GetName/SetName and the two signals) and is replaced on merge.

#include <QObject>
#include <QString>

class CZunAbstractFrequencyResponse : public QObject
{
    Q_OBJECT
public:
    explicit CZunAbstractFrequencyResponse(QObject* parent = nullptr) : QObject(parent) {}

    // The user name, or the default name when the user name is empty.
    QString GetName() const { return m_userName.isEmpty() ? m_defaultName : m_userName; }

    void SetName(const QString& name)
    {
        m_userName = name;
        emit nameChanged(name);
    }

signals:
    void nameChanged(QString name);
    void dataChanged();

protected:
    QString m_defaultName;
    QString m_userName;
};
