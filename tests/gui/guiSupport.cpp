#include "guiSupport.h"

#include "base/dvFileUtils.h"
#include "gui/dvDesktop.h"
#include "gui/dvFormMain.h"
#include "gui/dvItemList.h"
#include "gui/dvVellumAbout.h"
#include "project/dvProject.h"
#include "shell/dvApp.h"
#include "shell/dvInfo.h"

#include <QDragEnterEvent>
#include <QElapsedTimer>
#include <QMimeData>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

namespace {
TdvFrmMain* gWindow = nullptr;
TdvScriptedDialogs* gDialogs = nullptr;
QStringList gLinks;
QStringList gQuestions;
QList<QMessageBox::StandardButton> gAnswers;
QStringList gNotifications;
QStringList gErrors;
} // namespace

QStringList& shownErrors()
{
    return gErrors;
}

QStringList& askedQuestions()
{
    return gQuestions;
}

QList<QMessageBox::StandardButton>& askAnswers()
{
    return gAnswers;
}

QStringList& notifications()
{
    return gNotifications;
}

TdvFrmMain* window()
{
    return gWindow;
}

TdvScriptedDialogs* dialogs()
{
    return gDialogs;
}

QStringList& openedLinks()
{
    return gLinks;
}

void resetWindow()
{
    gDialogs = new TdvScriptedDialogs;
    gApp->Dialogs.reset(gDialogs);
    gLinks.clear();
    gQuestions.clear();
    gAnswers.clear();
    gNotifications.clear();
    gErrors.clear();
    // No message box waits for a click in a test.
    gWindow->ShowError = [](const QString& message) { gErrors.append(message); };
    gInfo->Opener = [](const QString& link) { gLinks.append(link); };
    gWindow->Ask = [](const QString& text, QMessageBox::StandardButtons, QMessageBox::StandardButton) {
        gQuestions.append(text);
        return gAnswers.isEmpty() ? QMessageBox::Cancel : gAnswers.takeFirst();
    };
    // Nothing reaches the session bus from a test.
    gWindow->Desktop->Notifier = [](const QString& summary, const QString& body) {
        gNotifications.append(summary + QLatin1Char('|') + body);
    };
    gWindow->Desktop->ProgressShower = [](double, bool) {};
    gInfo->SiteRoot = QStringLiteral("https://vellum.example");
    gInfo->SupportMail = QStringLiteral("help@vellum.example");
    gWindow->UpdateLinkCommands();
    gProject->NewProject();
    gProject->RecentProjects.clear();
    gWindow->NewBatch();
    gWindow->Notice(QString());
    gWindow->MarkSaved();
}

bool dropOn(QWidget* control, const QStringList& paths)
{
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls.append(QUrl::fromLocalFile(path));
    QMimeData mime;
    mime.setUrls(urls);
    const QPoint pos = control->mapTo(gWindow, control->rect().center());
    QDragEnterEvent enter(pos, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(gWindow, &enter);
    QDropEvent drop(QPointF(pos), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(gWindow, &drop);
    return drop.isAccepted();
}

void whenModal(std::function<void()> fn)
{
    QTimer::singleShot(0, gWindow, std::move(fn));
}

QStringList rows()
{
    QStringList out;
    const TdvItemModel* items = gWindow->Items();
    for (int i = 0; i < items->rowCount(); ++i) {
        const QStringList result = splitLines(items->Result(i));
        out.append(QStringLiteral("%1|%2|%3")
                       .arg(items->ReportedState(i))
                       .arg(items->Source(i), result.isEmpty() ? QString() : result.first()));
    }
    return out;
}

bool waitFor(const std::function<bool()>& pred, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > timeoutMs)
            return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

int runGuiTests(int argc, char** argv, const TdvConvertorClass* convertorClass)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TdvApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    int code = 0;
    {
        TestSingletons singletons(convertorClass);
        auto* frame = new TdvFrmMain;
        gWindow = frame;
        TdvFrmVellumAbout about;
        dvFrmAbout = &about;
        about.ShowAbout();
        frame->show();
        resetWindow();
        code = RUN_ALL_TESTS();
        delete frame;
        gWindow = nullptr;
        dvFrmAbout = nullptr;
    }
    return code;
}
