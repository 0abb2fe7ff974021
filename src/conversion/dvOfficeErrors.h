#pragma once

#include <QString>

// The office reports file-system trouble as its own I/O error codes ("0xc10(Error Area:Io Class:Write
// Code:16)"). These turn them into what the person knows: the cause in the system's words with the path,
// the office's text after it as detail.

// The errno an office I/O error code stands for, or 0 when it is no I/O error or names no cause of its own
// (a general read or write error).
int officeIoErrno(quint32 code);

// Whether the code is an I/O error of the office that file-system trouble can cause (not a wrong filter or
// a damaged format, which the office's own text says best).
bool isOfficeFileError(quint32 code);

// The office's text made fit to follow ours: document addresses (the work file's, which the person never
// named) and the office's source location are left out.
QString officeDetail(const QString& raw);

// The message of a failed store of `file`: the cause found on the file system of its folder (rights,
// read-only mount, no space), else the code's own, else the system's input/output error.
QString officeWriteFailure(const QString& file, quint32 code, const QString& raw);

// The message of a failed load of `file`: why the system cannot read it, else the code's own cause.
QString officeReadFailure(const QString& file, quint32 code, const QString& raw);

// The failure of a presentation the system cannot read ("Permission denied", "Is a directory").
QString unreadablePresentationMessage(const QString& path, const QString& reason);
