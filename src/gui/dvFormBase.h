#pragma once

#include "shell/dvApp.h"

#include <QApplication>
#include <QWidget>

class QEventLoop;

// The base of every form: the desktop's font and palette (the window colour of its buttons), tool tips,
// 1200 x 600 and centred on the screen when first shown. Forms show modally through ShowModal.
class TdvFrmBase : public QWidget
{
    Q_OBJECT
public:
    explicit TdvFrmBase(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::Window);
    ~TdvFrmBase() override;

    // Shows the form application-modal and returns when it is hidden or closed.
    void ShowModal();
    bool IsModal() const { return FModalLoop != nullptr; }
    // The form has a place of its own (kept from an earlier session): it is not centred when first shown.
    void KeepPlace() { FCentred = true; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

    // Forms that come and go (the about box) are centred on every showing, not only the first.
    bool FCentreEachShow = false;

private:
    QEventLoop* FModalLoop = nullptr;
    bool FCentred = false;
};

// The open, save and folder dialogs on QFileDialog.
class TdvFileDialogs : public TdvDialogs
{
public:
    bool OpenFileDialog(const QString& filter, QString& fileName, bool multiSelect) override;
    bool SaveFileDialog(const QString& filter, const QString& defaultExt, QString& fileName) override;
    bool BrowseForFolder(QString& folder) override;
};

// "Desc|*.a;*.b|Desc2|*.c" as Qt name filters: "Desc (*.a *.b)", "Desc2 (*.c)".
QStringList qtNameFilters(const QString& filter);

// The application object of the windowed mode. An exception that escapes an event handler must not end the
// program: it is counted and reported like every unexpected error, without a message box.
class TdvApplication : public QApplication
{
    Q_OBJECT
public:
    TdvApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Hands an unexpected error to the product information (counted "E", sent to the error-report page).
void handleAppException(const QObject* sender, const std::exception* error);

// Runs a handler; an exception it throws ends there as an unexpected error rather than unwinding through Qt.
template <class F> void guarded(const QObject* sender, F&& fn)
{
    try {
        fn();
    } catch (const std::exception& e) {
        handleAppException(sender, &e);
    } catch (...) {
        handleAppException(sender, nullptr);
    }
}

// Installs the window's services: QFileDialog dialogs into gApp and the desktop opener into gInfo.
void installWindowServices();
// Opens a link or a local path with the desktop's default program.
void openWithDesktop(const QString& link);
