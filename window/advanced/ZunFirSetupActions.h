#pragma once

#include "ZunActionPrompts.h"
#include "ZunLongOperation.h"

#include <QMessageBox>
#include <QObject>
#include <QSharedPointer>

#include <memory>
#include <optional>

class CZun;
class QAbstractItemModel;
class ZunTabJobs;

// The advanced tab's actions on the FIR sets and the setups: a set chosen for a DSP, sets
// uploaded, downloaded and removed, setups stored, uploaded, downloaded and removed. Each
// refuses what cannot work before anything is sent (a file the filters library refuses, a
// set the processor holds already, a set in use, an empty position, the empty-position
// placeholder as a name) and asks before an occupied position is overwritten. The tab
// binds its buttons and selectors here and shows what this reports.
class ZunFirSetupActions : public QObject
{
    Q_OBJECT
public:
    // What the actions ask the operator. The default asks with the program's dialogs;
    // tests may answer in its place.
    class Prompts : public ZunActionPrompts
    {
    public:
        using ZunActionPrompts::ZunActionPrompts;
        // A file to read, or "" when cancelled.
        virtual QString openFile(const QString& title, const QString& folder, const QString& filter);
        // One row of a list (the form's own label and button texts where these are empty),
        // starting at row start when given; false when cancelled. An editable choice lets
        // the operator type the row's name, returned in *name.
        struct Choice
        {
            QString title, label, button;
            std::optional<int> start;
            bool editable = false;
        };
        virtual bool chooseRow(const Choice& choice, QAbstractItemModel* list, int* row, QString* name);
        // A setup file and the position to store it at; false when cancelled.
        virtual bool setupFile(const QString& start, QAbstractItemModel* positions, QString* file, int* position);
        // A box with an Ok button, over the tab or (overTab false) on its own.
        virtual void message(QMessageBox::Icon icon, const QString& text, bool overTab);
    };

    // Prompts are parented to the tab. jobs: the tab's (none: the actions' own).
    ZunFirSetupActions(QSharedPointer<CZun> zun, QWidget* tab, QSharedPointer<ZunTabJobs> jobs = {});
    ~ZunFirSetupActions() override;

    void setPrompts(std::unique_ptr<Prompts> prompts);

    // Activates the set id on dsp (1 or 2; linked: on both DSPs), each DSP keeping its copy
    // mode. A set at another sample rate than the processor runs, or one the DSP cannot
    // run, is refused before anything is sent.
    void chooseFIRFilter(int dsp, quint32 id, bool linked);
    // The steps of the actions after the operator's choice; the slots ask first. Each
    // reports a refusal through signal_exception and returns false.
    bool startFIRFilterUpload(const QString& file);
    // Writes the set into folder under its own file name; returns the file written.
    QString downloadFIRFilterTo(quint32 id, const QString& folder);
    bool startSetupUpload(const QString& file, int position);
    // Stores the processor's current state at position under name, after asking before an
    // occupied position is overwritten. The empty-position placeholder or a blank name is
    // refused; a declined or failed store changes nothing, the setup list included.
    bool storeSetupAs(int position, const QString& name);
    QString downloadSetupTo(int position, const QString& folder);
    // Why a set may not be removed (active, or used by stored setups); empty when it may.
    QString firRemovalRefusal(quint32 id) const;
    bool isSetupPositionEmpty(int position) const;
    // The log line of the FIR set upload's end, as its start has one ("" when none runs):
    // stored or not, as the processor's list of sets shows it now; failed: not stored, or
    // not known.
    QString firUploadEnded(bool* failed);

signals:
    void signal_log(QString text);
    void signal_exception(QString text, QString caption);
    void longOperationStarted(ZunLongOperation operation);
    void longOperationFinished(ZunLongOperation operation);
    // A set choice refused before anything was sent: the selectors show the active sets.
    void firChoiceRefused();

public slots:
    void uploadFIRFilter();
    void downloadFIRFilter();
    void removeFIRFilter();
    void uploadSetup();
    void downloadSetup();
    void removeSetup();
    void storeSetup();

private:
    // True (after one box naming what) when the link is gone: nothing is started.
    bool refusedWithoutLink(const QString& what, const QString& caption);
    // True (after one box naming what runs) while the processor runs a long operation:
    // asked before the operator is.
    bool refusedWhileBusy(const QString& what, const QString& caption);
    // Begins the job when nothing runs; false after the same box when something does.
    bool beganAlone(ZunLongOperation kind, const QString& what, const QString& caption);
    bool confirmOverwrite(int position);
    QString settingsFolder(const char* key) const;
    // The folder to download into, starting at the one remembered under key (which then
    // remembers the choice); "" when cancelled.
    QString downloadFolder(const QString& title, const char* key);

    QSharedPointer<CZun> m_zun;
    QSharedPointer<ZunTabJobs> m_jobs;
    std::unique_ptr<Prompts> m_prompts;
    struct Upload
    {
        quint32 key = 0;
        QString name;
    };
    Upload m_upload; // the FIR set upload running (key 0: none)
};
