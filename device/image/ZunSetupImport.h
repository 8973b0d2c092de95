#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>

#include <functional>

class CCmdMap;

// Converts a stored parameter image made under one firmware version into the layout of a
// newer one: starts from the newer version's default image, carries every parameter over
// by its name and converts the values whose encoding changed. The work is done on a copy;
// the caller swaps the result in only when the whole conversion succeeded.
class ZunSetupImport
{
public:
    // What the conversion looks up in a command map. The command maps give it through
    // MapNames; tests give maps of their own (other step sizes, older versions).
    class Names
    {
    public:
        virtual ~Names() = default;
        virtual quint16 nr(const QString& name) const = 0;
        virtual double flt(const QString& name) const = 0;
        virtual QSet<QString> names() const = 0;
    };
    class MapNames : public Names
    {
    public:
        explicit MapNames(const CCmdMap& map) : m_map(map) {}
        quint16 nr(const QString& name) const override;
        double flt(const QString& name) const override;
        QSet<QString> names() const override;

    private:
        const CCmdMap& m_map;
    };
    // The routing word of an old routing kind, looked up in the new version.
    using RoutingWord = std::function<quint16(quint16 kind)>;

    // The default image of a firmware version from the resources; throws std::logic_error
    // when there is none.
    static QByteArray defaultImage(quint16 version);

    // source: the stored image (3,400 bytes) of version `from`; the result is the image for
    // version `to`, built on `defaults`. Throws std::logic_error (downgrade, a value that
    // does not fit its word) or CCmdMap::invalid_cmd (a name a map lacks).
    static QByteArray convert(const QByteArray& source, quint16 from, quint16 to, const QByteArray& defaults,
                              const Names& oldNames, const Names& newNames, const RoutingWord& routing);

    static const char* const DowngradeText;
};
