#pragma once

#include "ZunFilterParams.h"

#include <QList>
#include <QPoint>
#include <QTableView>

class QAction;
class QMimeData;

// The table of a channel page that shows its EQs (ZunEQProxyModel) or crossover filters
// (ZunHOFProxyModel): copy, paste, select all and, when the user setting "importEqs" is on,
// import of a CSV filter list, from the context menu and by shortcut; rows are dragged out
// with the left button and EQ or filter rows dropped in become new ones of this channel.
//
// The shortcuts act on the view that has the focus (or a child of it, an open editor), so
// two tables on one page never take each other's Ctrl+V.
class ZunFilterTableView : public QTableView
{
    Q_OBJECT
public:
    explicit ZunFilterTableView(QWidget* parent = nullptr);

    QAction* copyAction() const { return m_copy; }
    QAction* pasteAction() const { return m_paste; }
    QAction* selectAllAction() const { return m_selectAll; }
    QAction* importAction() const { return m_import; } // null unless import is enabled

    // Whether the shown model takes this payload by paste or drop.
    bool accepts(const QMimeData* data) const;
    // Reads a CSV filter list into a channel payload and hands it to the model: the EQ table
    // takes its EQs, the filter table its crossover filters. Rows of the file that cannot be
    // read are reported through signal_exception.
    void importFile(const QString& fileName);

signals:
    void signal_exception(QString text, QString caption);

public slots:
    void copy();
    void paste();
    void fromFile();
    void validateActions();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QAction* newAction(const QString& text, const QString& shortcut, const QString& tip);
    bool drop(const QMimeData* data);
    // Why the shown channel cannot take a list of so many EQs or filters; "" when it can,
    // or when the table shows no single channel.
    QString listRefusal(int eqs, const QList<HO_FILTER_PARAMS>& filters) const;
    // Drops a pasted or dropped list only if the channel takes it whole; else one message,
    // refused with %1 for the reason.
    bool dropWhole(const QMimeData* data, const QString& refused);

    QAction* m_copy = nullptr;
    QAction* m_paste = nullptr;
    QAction* m_selectAll = nullptr;
    QAction* m_import = nullptr;
    QPoint m_pressPosition;
    bool m_importEnabled = false;
};
