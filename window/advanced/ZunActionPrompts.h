#pragma once

#include <QString>

class QWidget;

// What every action object of the advanced tab asks the operator in the same way: a Yes/No
// warning and a folder. The default asks with the program's dialogs, parented to the tab;
// tests answer in its place.
class ZunActionPrompts
{
public:
    explicit ZunActionPrompts(QWidget* parent) : m_parent(parent) {}
    virtual ~ZunActionPrompts() = default;
    // True for Yes.
    virtual bool confirm(const QString& text);
    // A folder, or "" when cancelled.
    virtual QString folder(const QString& title, const QString& start);

protected:
    QWidget* m_parent;
};
