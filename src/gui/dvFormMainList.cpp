// The window's list: the rows selected, what they open, copy and convert again, its menu and its export.
#include "gui/dvFormMain.h"

#include "base/dvError.h"
#include "engine/dvItemEvents.h"
#include "engine/dvRunLog.h"
#include "engine/dvWork.h"
#include "gui/dvItemList.h"
#include "project/dvProject.h"
#include "shell/dvApp.h"
#include "shell/dvInfo.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QTreeView>

QList<int> TdvFrmMain::SelectedRows() const
{
    QList<QModelIndex> shown = lViewer->selectionModel()->selectedRows(0);
    std::sort(shown.begin(), shown.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QList<int> rows;
    for (const QModelIndex& index : std::as_const(shown))
        rows.append(FFilter->mapToSource(index).row());
    return rows;
}

void TdvFrmMain::OpenSelected(bool folderOnly)
{
    const QList<int> selected = SelectedRows();
    if (selected.isEmpty())
        return;
    QString path = FItems->Source(selected.first());
    if (folderOnly)
        path = extractFilePath(path);
    if (gInfo->Opener && !path.isEmpty())
        gInfo->Opener(path);
}

void TdvFrmMain::OpenRow(int row)
{
    if (!FItems->IsReported(row))
        return;
    const QString result = FItems->Result(row);
    const int state = FItems->ReportedState(row);
    if (state == isDone && !result.isEmpty() && gInfo->Opener)
        gInfo->Opener(result);
    else if (state == isFailed && ShowError)
        ShowError(result);
}

QString TdvFrmMain::CellHint(int row, int column) const
{
    return Hints->Hint(FFilter->mapFromSource(FItems->index(row, column)));
}

void TdvFrmMain::aCopyExecute()
{
    QStringList lines;
    for (int row : SelectedRows())
        lines.append(FItems->ResultLine(row));
    if (!lines.isEmpty())
        QGuiApplication::clipboard()->setText(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

void TdvFrmMain::aRetryExecute()
{
    if (FRun)
        return;
    QStringList failed;
    for (int row = 0; row < FItems->rowCount(); ++row)
        if (FItems->RowState(row) == TdvRowState::Failed)
            failed.append(FItems->Source(row));
    if (failed.isEmpty()) {
        Notice(tr("No file of the list has failed."));
        return;
    }
    // The files keep the place below the target that the search gave them.
    const QString folder = FItems->SourceFolder();
    NewBatch();
    FWork->SetSourceFolder(folder);
    FItems->SetSourceFolder(folder);
    for (const QString& path : std::as_const(failed))
        AddSource(path);
    aConvertExecute();
}

void TdvFrmMain::ViewSource1Click()
{
    OpenSelected(true);
}

void TdvFrmMain::OpenSource1Click()
{
    OpenSelected(false);
}

void TdvFrmMain::pm1Popup()
{
    const bool selected = lViewer->selectionModel()->hasSelection();
    OpenSource1->setEnabled(selected);
    ViewSource1->setEnabled(selected);
    aCopy->setEnabled(selected);
    aRetry->setEnabled(!FRun && FItems->Failed() > 0);
}

void TdvFrmMain::SaveList(const QString& fileName)
{
    QStringList lines;
    for (int row = 0; row < FItems->rowCount(); ++row)
        lines.append(FItems->ResultLine(row));
    writeRunFile(fileName, lines, FWork ? &FWork->Batch() : nullptr, gProject->TargetExt);
}

void TdvFrmMain::ExportList1Click()
{
    QString name;
    if (!gApp->SaveFileDialog(QStringLiteral("Log File|*.log"), QStringLiteral(".log"), name))
        return;
    try {
        SaveList(name);
    } catch (const std::exception& e) {
        if (ShowError)
            ShowError(errorMessage(e));
    }
}
