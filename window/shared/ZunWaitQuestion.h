#pragma once

#include <QString>

class QWidget;

// The question put before an end that would cut long operations short (the main window's
// Quit, a control window's close): waiting is the default and the escape, so that a key
// pressed by habit never cuts a store half-way.
class ZunWaitQuestion
{
public:
    // True when the operator chose anyway (the button reads anyway, "Quit anyway").
    static bool anyway(QWidget* parent, const QString& question, const QString& anyway);
};
