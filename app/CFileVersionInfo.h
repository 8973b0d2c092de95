#pragma once

#include <QString>
#include <QtGlobal>

// The fixed version record of the running program: signature, structure version, file
// and product version (high and low word), flags, OS, type and date. On this platform the
// program file carries no version block; the numbers come from the build (the project
// version), which is what the record of the program file would hold.
class CFileVersionInfo
{
public:
    static constexpr quint32 Signature = 0xFEEF04BD;

    CFileVersionInfo() = default;

    // Fills the record for the program file at path; false (and a record of zeros) when
    // the path is null or names no file.
    bool Create(const wchar_t* path);
    bool Create(const QString& path);

    bool isValid() const { return m_valid; }
    quint32 fileVersionMS() const { return m_fileVersionMS; }
    quint32 fileVersionLS() const { return m_fileVersionLS; }
    // a.b.c.d of the file version.
    int major() const { return int(m_fileVersionMS >> 16); }
    int minor() const { return int(m_fileVersionMS & 0xFFFF); }
    int patch() const { return int(m_fileVersionLS >> 16); }
    int build() const { return int(m_fileVersionLS & 0xFFFF); }

private:
    void clear();

    quint32 m_signature = 0;
    quint32 m_strucVersion = 0;
    quint32 m_fileVersionMS = 0;
    quint32 m_fileVersionLS = 0;
    quint32 m_productVersionMS = 0;
    quint32 m_productVersionLS = 0;
    bool m_valid = false;
};
