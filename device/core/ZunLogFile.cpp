#include "ZunLogFile.h"

#include <QMutexLocker>
#include <QTextStream>
#include <QTime>

ZunLogFile& ZunLogFile::instance()
{
    static ZunLogFile log;
    return log;
}

bool ZunLogFile::write(const QString& folder, const QString& text)
{
    if (folder.isEmpty())
        return false;
    QMutexLocker lock(&m_mutex);
    if (!m_file.isOpen()) {
        m_file.setFileName(folder + QStringLiteral("/logFile.txt"));
        if (!m_file.open(QIODevice::Append | QIODevice::Text)) {
            // Leave no name behind, so that the next line tries again.
            m_file.setFileName(QString());
            return false;
        }
        QTextStream(&m_file) << QTime::currentTime().toString(QStringLiteral("hh:mm:ss")) << ": Init LogFile\n\n";
    }
    QTextStream out(&m_file);
    out << QTime::currentTime().toString(QStringLiteral("hh:mm:ss")) << ": " << text << '\n';
    out.flush();
    return m_file.error() == QFileDevice::NoError;
}

QString ZunLogFile::fileName() const
{
    QMutexLocker lock(&m_mutex);
    return m_file.isOpen() ? m_file.fileName() : QString();
}

void ZunLogFile::reset()
{
    QMutexLocker lock(&m_mutex);
    m_file.close();
    m_file.setFileName(QString());
}
