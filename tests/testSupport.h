#pragma once

#include "testConfig.h"

#include "project/dvProject.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <ostream>

class TdvConvertorClass;

// A temporary folder with helpers to lay out files in it.
class TempTree
{
public:
    TempTree();
    QString path(const QString& relative = QString()) const; // absolute, "/" joined
    QString write(const QString& relative, const QByteArray& content = "x");
    QString mkdir(const QString& relative);

private:
    QTemporaryDir FDir;
};

// The process-wide objects a test needs, with this product's identity and a converter class of the test's.
// Per-user folders point into a temporary folder for the whole test program.
class TestSingletons
{
public:
    explicit TestSingletons(const TdvConvertorClass* convertorClass = nullptr, bool withInfo = true);
    ~TestSingletons();
    QStringList OpenedLinks; // links the product information tried to open
};

// The folder that stands in for the user's home in tests.
QString testHome();
// The shared corpus of real presentations.
QString corpusDir();
// The text without the note a run adds once where the machine cannot isolate its offices (a chroot, a
// container without namespaces), so that tests of other notes hold on such machines too.
QString withoutIsolationNote(QString text);
QByteArray readAll(const QString& path);
// The options of a run of the test's project, as the window and the console take them as a run starts;
// without a project, those of a run without one.
TdvRunOptions projectRunOptions();
// Gives a converter made outside a run the test project's options as they are now.
template <class Convertor> void followProject(Convertor& convertor)
{
    convertor.FOptions = std::make_shared<const TdvRunOptions>(projectRunOptions());
}
// Other processes whose command line holds `marker` (a program and, through their profile folders, its
// offices).
QList<qint64> processesNaming(const QByteArray& marker);
// Asks `pred` every 50 ms until it holds or `ms` have passed; answers its last word.
bool waitUntil(const std::function<bool()>& pred, int ms);

// Readable QString values in test failures.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* os)
{
    *os << '[' << list.join(QStringLiteral(" | ")).toStdString() << ']';
}
