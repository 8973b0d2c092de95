#pragma once
// Answers the maintenance actions' questions in the operator's place and records what was
// shown. Header-only; link zunwindow.

#include "CZunConfigWizard.h"
#include "ZunMaintenanceActions.h"

#include <QFile>

#include <functional>

class PromptAnswers : public ZunMaintenanceActions::Prompts
{
public:
    PromptAnswers() : Prompts(nullptr) {}
    bool yes = true;
    bool collect = false; // the low-memory offer of a garbage collection
    QString folderChoice, textChoice, firmware;
    quint16 oldPin = 0, newPin = 0;
    int textLimit = -1; // the last limited field's length
    std::function<bool(CZunConfigWizard&)> wizard;
    QStringList shown;

    // Installs a new set of answers on actions (which own it) and returns it.
    static PromptAnswers* install(ZunMaintenanceActions* actions)
    {
        auto* answers = new PromptAnswers;
        actions->setPrompts(std::unique_ptr<PromptAnswers>(answers));
        return answers;
    }

    bool confirm(const QString& text) override { shown << text; return yes; }
    QString folder(const QString&, const QString&) override { return folderChoice; }
    bool text(const QString&, const QString&, const QString& initial, QString* answer) override
    {
        shown << initial;
        *answer = textChoice;
        return true;
    }
    // As the dialog's field does: no more than it takes.
    bool textUpTo(const QString&, const QString&, const QString& initial, int maxLength, QString* answer) override
    {
        shown << initial;
        textLimit = maxLength;
        *answer = textChoice.left(maxLength);
        return true;
    }
    QString firmwareFile(const QString&) override { return firmware; }
    bool pin(quint16* o, quint16* n) override { *o = oldPin; *n = newPin; return true; }
    void message(QMessageBox::Icon, const QString& text) override { shown << text; }
    bool ask(const QString& text) override { shown << text; return yes; }
    bool garbageCollectionNow(const QString&) override { return collect; }
    bool runWizard(CZunConfigWizard& w) override { return wizard && wizard(w); }

    // A firmware file of the size the emulator takes as a whole image.
    static QString writeFirmware(const QString& folder)
    {
        QFile file(folder + QStringLiteral("/zun.fwu"));
        if (!file.open(QIODevice::WriteOnly))
            return QString();
        for (int i = 0; i < 20000; ++i)
            file.putChar(char(i * 7 + 3));
        return file.fileName();
    }
};
