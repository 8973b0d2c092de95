#pragma once

#include <QObject>

class QDialog;
class QFontMetrics;
class QString;

// Opens a form at the size its texts need, whatever they were set to after it was built:
// at least as wide as its title needs (the window manager cuts a title short beside its
// buttons), and as tall as its word-wrapped texts are at that width. A fixed first size
// cut both on the usual fonts.
class ZunFormFit : public QObject
{
    Q_OBJECT
public:
    // The width at which a window manager's title bar shows the whole title (its font is
    // usually bold and a little larger; an icon and three buttons beside it).
    static int widthForTitle(const QFontMetrics& metrics, const QString& title);
    // Sizes the form each time it is shown; the helper is the form's child.
    static void install(QDialog* form);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    using QObject::QObject;
};
