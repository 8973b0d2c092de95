#include "CFileVersionInfo.h"

#include <QFileInfo>

#ifndef ZUN_VERSION_MAJOR
#define ZUN_VERSION_MAJOR 0
#define ZUN_VERSION_MINOR 0
#define ZUN_VERSION_PATCH 0
#define ZUN_VERSION_TWEAK 0
#endif

bool CFileVersionInfo::Create(const wchar_t* path)
{
    if (!path) {
        clear();
        return false;
    }
    return Create(QString::fromWCharArray(path));
}

bool CFileVersionInfo::Create(const QString& path)
{
    clear();
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return false;
    m_signature = Signature;
    m_strucVersion = 0x00010000;
    m_fileVersionMS = (quint32(ZUN_VERSION_MAJOR) << 16) | quint32(ZUN_VERSION_MINOR);
    m_fileVersionLS = (quint32(ZUN_VERSION_PATCH) << 16) | quint32(ZUN_VERSION_TWEAK);
    m_productVersionMS = m_fileVersionMS;
    m_productVersionLS = m_fileVersionLS;
    m_valid = m_signature == Signature;
    return m_valid;
}

void CFileVersionInfo::clear()
{
    *this = CFileVersionInfo();
}
