#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

// A sequence of steps run one after the other from the owner thread's event loop, each
// after a pause of its own: a long configuration whose processor needs time between its
// commands runs without blocking or spinning that thread. A step that throws ends the
// sequence; the rest is not run.
class ZunTimedSteps : public QObject
{
    Q_OBJECT
public:
    explicit ZunTimedSteps(QObject* parent = nullptr);

    // Appends a step run pauseMs after the one before (after start for the first).
    void add(int pauseMs, std::function<void()> step);
    // Runs the steps added; false (nothing run) while an earlier sequence still runs.
    bool start();
    bool isRunning() const { return m_running; }

signals:
    // The sequence has ended: every step run (ok), or one failed with text.
    void signal_Finished(bool ok, QString text);

private slots:
    void on_Next();

private:
    struct Step
    {
        int pauseMs;
        std::function<void()> run;
    };
    QList<Step> m_steps;
    QTimer m_timer;
    bool m_running = false;
};
