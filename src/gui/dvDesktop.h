#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QWidget;

// What the window tells the desktop beyond itself: a notice when a run ends while the person looks
// elsewhere (a freedesktop notification over D-Bus, and the window's urgency hint), and the run's progress on
// the program's task bar entry where the desktop shows one (the launcher-entry D-Bus signal that docks and
// task bars of several desktops read).
class TdvDesktop : public QObject
{
    Q_OBJECT
public:
    explicit TdvDesktop(QWidget* window);

    void Notify(const QString& summary, const QString& body);
    // fraction from 0 to 1; hidden when the run is over.
    void SetProgress(double fraction, bool visible);

    // Tests replace these so that nothing reaches the session bus.
    std::function<void(const QString& summary, const QString& body)> Notifier;
    std::function<void(double fraction, bool visible)> ProgressShower;

private:
    QWidget* FWindow;
    double FLastFraction = -1;
    bool FLastVisible = false;
};
