#include "conversion/dvOfficeErrors.h"

#include "base/dvPlaces.h"
#include "project/dvProject.h"

#include <QRegularExpression>

#include <cerrno>

namespace {

// The office's code layout: the area above bit 13 (0 is I/O), the class in bits 8 to 12, the code's own
// number in the low byte; the top bits mark warnings and dynamic codes and say nothing about the cause.
constexpr quint32 kErrorMask = 0x03ffffff;
constexpr int kAreaShift = 13;
constexpr int kClassShift = 8;

enum OfficeIoClass : quint32 {
    ClassGeneral = 2,
    ClassNotExists = 3,
    ClassAlreadyExists = 4,
    ClassAccess = 5,
    ClassPath = 6,
    ClassLocking = 7,
    ClassSpace = 9,
    ClassRead = 11,
    ClassWrite = 12,
    ClassCreate = 16,
};

quint32 ioClass(quint32 code)
{
    return ((code & kErrorMask) >> kClassShift) & 0x1f;
}

quint32 ioNumber(quint32 code)
{
    return code & 0xff;
}

QString withDetail(const QString& message, const QString& raw)
{
    const QString detail = officeDetail(raw);
    return detail.isEmpty() ? message : QStringLiteral("%1 (office: %2)").arg(message, detail);
}

} // namespace

bool isOfficeFileError(quint32 code)
{
    const quint32 error = code & kErrorMask;
    if (error == 0 || (error >> kAreaShift) != 0)
        return false;
    switch (ioNumber(code)) {
    case 4:
    case 5:
    case 14:
    case 31:
    case 37:
        return true;
    default:
        break;
    }
    switch (ioClass(code)) {
    case ClassGeneral:
    case ClassNotExists:
    case ClassAlreadyExists:
    case ClassAccess:
    case ClassPath:
    case ClassLocking:
    case ClassSpace:
    case ClassRead:
    case ClassWrite:
    case ClassCreate:
        return true;
    default:
        return false;
    }
}

int officeIoErrno(quint32 code)
{
    if (!isOfficeFileError(code))
        return 0;
    // The codes that name a cause; the others of a class share its cause.
    switch (ioNumber(code)) {
    case 4: // not a directory
        return ENOTDIR;
    case 5: // not a file
        return EISDIR;
    case 14: // too many open files
        return EMFILE;
    case 17: // out of memory
        return ENOMEM;
    case 31: // name too long
        return ENAMETOOLONG;
    case 37: // write protected
        return EROFS;
    default:
        break;
    }
    switch (ioClass(code)) {
    case ClassNotExists:
        return ENOENT;
    case ClassAlreadyExists:
        return EEXIST;
    case ClassAccess:
        return EACCES;
    case ClassPath:
        return ENODEV;
    case ClassLocking:
        return EBUSY;
    case ClassSpace:
        return ENOSPC;
    default:
        return 0; // general, read, write, create: the code alone does not say why
    }
}

QString officeDetail(const QString& raw)
{
    static const QRegularExpression address(QStringLiteral("\\s*<[a-z][a-z0-9+.-]*:[^>]*>"));
    // The office adds its source location at every rethrow ("... at ./sfx2/source/doc/x.cxx:3207").
    static const QRegularExpression location(QStringLiteral("\\s+at\\s+\\S+\\.[ch]xx:\\d+"));
    QString detail = raw;
    detail.remove(address).remove(location);
    return detail.trimmed();
}

QString officeWriteFailure(const QString& file, quint32 code, const QString& raw)
{
    const QString folder = extractFilePath(file);
    QString cause = writeProblem(folder);
    if (cause.isEmpty()) {
        const int error = officeIoErrno(code);
        cause = systemMessage(error != 0 ? error : EIO);
    }
    return withDetail(QStringLiteral("The PDF file cannot be written to %1: %2").arg(folder, cause), raw);
}

QString officeReadFailure(const QString& file, quint32 code, const QString& raw)
{
    QString cause = readProblem(file);
    if (cause.isEmpty()) {
        const int error = officeIoErrno(code);
        cause = systemMessage(error != 0 ? error : EIO);
    }
    return withDetail(unreadablePresentationMessage(file, cause), raw);
}

QString unreadablePresentationMessage(const QString& path, const QString& reason)
{
    return QStringLiteral("The presentation %1 cannot be read: %2").arg(path, reason);
}
