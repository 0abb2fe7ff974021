#include "gui/dvFormBase.h"

#include "base/dvError.h"
#include "shell/dvInfo.h"

#include <QDesktopServices>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QProcess>
#include <QScreen>
#include <QUrl>

TdvFrmBase::TdvFrmBase(QWidget* parent, Qt::WindowFlags flags) : QWidget(parent, flags)
{
    // No font of our own: the desktop's (its size, its hinting, a person's larger text) is the one to read.
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    setPalette(pal);
    setAutoFillBackground(true);
    resize(1200, 600);
}

TdvFrmBase::~TdvFrmBase()
{
    if (FModalLoop)
        FModalLoop->quit();
}

void TdvFrmBase::ShowModal()
{
    if (FModalLoop)
        return;
    setWindowModality(Qt::ApplicationModal);
    QEventLoop loop;
    FModalLoop = &loop;
    show();
    activateWindow();
    if (isVisible())
        loop.exec(QEventLoop::DialogExec);
    FModalLoop = nullptr;
    setWindowModality(Qt::NonModal);
}

void TdvFrmBase::showEvent(QShowEvent* event)
{
    if ((!FCentred || FCentreEachShow) && isWindow()) {
        FCentred = true;
        if (QScreen* s = screen()) {
            // The whole window, its title bar and frame too, stands in the middle.
            QRect frame = frameGeometry();
            frame.moveCenter(s->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    QWidget::showEvent(event);
}

void TdvFrmBase::hideEvent(QHideEvent* event)
{
    if (FModalLoop)
        FModalLoop->quit();
    QWidget::hideEvent(event);
}

// ---- dialogs ---------------------------------------------------------------------------------------------

// The descriptions of the product's filters, for the translations.
[[maybe_unused]] static const char* const filterNames[] = {QT_TRANSLATE_NOOP("TdvFilters", "Presentations"),
                                                           QT_TRANSLATE_NOOP("TdvFilters", "Vellum Project"),
                                                           QT_TRANSLATE_NOOP("TdvFilters", "Log File")};

QStringList qtNameFilters(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts.at(i + 1);
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        QString description = parts.at(i);
        // A description that already names its patterns ("Decks (*.ppt;*.pptx)") is shown without them.
        const int paren = description.indexOf(QLatin1String(" ("));
        if (paren > 0)
            description.truncate(paren);
        description = QCoreApplication::translate("TdvFilters", description.toUtf8().constData());
        filters.append(QStringLiteral("%1 (%2)").arg(description, patterns));
    }
    return filters;
}

static QWidget* dialogParent()
{
    return QApplication::activeWindow();
}

bool TdvFileDialogs::OpenFileDialog(const QString& filter, QString& fileName, bool multiSelect)
{
    QString start = fileName;
    start.replace(QLatin1Char('?'), QLatin1Char('*'));
    QFileDialog dialog(dialogParent());
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(multiSelect ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    dialog.setNameFilters(qtNameFilters(filter));
    if (!start.isEmpty()) {
        dialog.setDirectory(QFileInfo(start).absolutePath());
        dialog.selectFile(QFileInfo(start).fileName());
    }
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty())
        return false;
    if (multiSelect) {
        QString lines;
        for (const QString& file : files)
            lines += file + QLatin1String("\r\n");
        fileName = lines;
    } else {
        fileName = files.first();
    }
    return true;
}

bool TdvFileDialogs::SaveFileDialog(const QString& filter, const QString& defaultExt, QString& fileName)
{
    QFileDialog dialog(dialogParent());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(qtNameFilters(filter));
    QString suffix = defaultExt;
    if (suffix.startsWith(QLatin1Char('.')))
        suffix.remove(0, 1);
    dialog.setDefaultSuffix(suffix);
    if (!fileName.isEmpty()) {
        dialog.setDirectory(QFileInfo(fileName).absolutePath());
        dialog.selectFile(QFileInfo(fileName).fileName());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    fileName = dialog.selectedFiles().first();
    return true;
}

bool TdvFileDialogs::BrowseForFolder(QString& folder)
{
    const QString chosen =
        QFileDialog::getExistingDirectory(dialogParent(), QString(), folder, QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty())
        return false;
    folder = chosen;
    return true;
}

// ---- application -----------------------------------------------------------------------------------------

TdvApplication::TdvApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    // No display name: Qt would append it to every window title on X11 and Wayland, and the titles are
    // the forms' own. The desktop entry ties the windows to the program's name and icon instead.
    setDesktopFileName(QStringLiteral("vellum"));
}

bool TdvApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        handleAppException(receiver, &e);
    } catch (...) {
        handleAppException(receiver, nullptr);
    }
    return false;
}

void handleAppException(const QObject* sender, const std::exception* error)
{
    const QString name = sender ? QString::fromLatin1(sender->metaObject()->className()) : QString();
    const QString message = error ? errorMessage(*error) : QStringLiteral("Unknown error");
    if (gInfo)
        gInfo->AppException(name, message);
}

void openWithDesktop(const QString& link)
{
    if (link.isEmpty())
        return;
    // Local paths become file URLs; anything with a scheme (http, mailto) goes as it is.
    const QUrl url =
        link.startsWith(QLatin1Char('/')) ? QUrl::fromLocalFile(link) : QUrl(link, QUrl::TolerantMode);
    // The desktop's own way first; where the platform has none (offscreen, a bare X server) xdg-open; without
    // either the click would otherwise go without any answer.
    if (QDesktopServices::openUrl(url) ||
        QProcess::startDetached(QStringLiteral("xdg-open"), {url.isLocalFile() ? url.toLocalFile() : link}))
        return;
    if (gInfo && gInfo->ShowError)
        gInfo->ShowError(QCoreApplication::translate("TdvFrmBase",
                                                     "Nothing on this desktop opens %1: install xdg-utils "
                                                     "(xdg-open) or choose a program for such files.")
                             .arg(link));
}

void installWindowServices()
{
    if (gApp)
        gApp->Dialogs = std::make_unique<TdvFileDialogs>();
    if (gInfo)
        gInfo->Opener = openWithDesktop;
}
