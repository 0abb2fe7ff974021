#include "gui/dvItemList.h"

#include "base/dvFileUtils.h"
#include "engine/dvItemEvents.h"
#include "engine/dvRunLog.h"
#include "gui/dvIcons.h"
#include "project/dvProject.h"
#include "shell/dvMain.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLineEdit>
#include <QToolTip>
#include <QTreeView>

namespace {

QString firstLine(const QString& text)
{
    const QStringList lines = splitLines(text);
    return lines.isEmpty() ? QString() : lines.first();
}

int imageOf(TdvRowState state)
{
    switch (state) {
    case TdvRowState::Waiting:
        return imgRunning;
    case TdvRowState::Converting:
        return imgConverting;
    case TdvRowState::Converted:
        return imgSuccess;
    case TdvRowState::Failed:
        return imgFailure;
    case TdvRowState::Skipped:
        return imgSkipped;
    case TdvRowState::NotDone:
        return imgNotDone;
    }
    return imgRunning;
}

// The order of the state column: what needs a look first.
int rankOf(TdvRowState state)
{
    switch (state) {
    case TdvRowState::Failed:
        return 0;
    case TdvRowState::NotDone:
        return 1;
    case TdvRowState::Converting:
        return 2;
    case TdvRowState::Waiting:
        return 3;
    case TdvRowState::Skipped:
        return 4;
    case TdvRowState::Converted:
        return 5;
    }
    return 6;
}

// Names as a person reads them: runs of digits by their number ("deck 9" before "deck 10"), the rest by the
// locale's order with letter case aside.
int naturalCompare(const QString& a, const QString& b)
{
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a.at(i).isDigit() && b.at(j).isDigit()) {
            qsizetype ei = i, ej = j;
            while (ei < a.size() && a.at(ei).isDigit())
                ++ei;
            while (ej < b.size() && b.at(ej).isDigit())
                ++ej;
            // Leading zeros aside, the longer run is the larger number.
            QStringView x = QStringView(a).mid(i, ei - i), y = QStringView(b).mid(j, ej - j);
            while (x.size() > 1 && x.front() == QLatin1Char('0'))
                x = x.mid(1);
            while (y.size() > 1 && y.front() == QLatin1Char('0'))
                y = y.mid(1);
            if (x.size() != y.size())
                return x.size() < y.size() ? -1 : 1;
            if (const int order = x.compare(y); order != 0)
                return order;
            i = ei;
            j = ej;
            continue;
        }
        qsizetype ei = i, ej = j;
        while (ei < a.size() && !a.at(ei).isDigit())
            ++ei;
        while (ej < b.size() && !b.at(ej).isDigit())
            ++ej;
        const QString x = a.mid(i, ei - i).toCaseFolded(), y = b.mid(j, ej - j).toCaseFolded();
        if (const int order = QString::localeAwareCompare(x, y); order != 0)
            return order;
        i = ei;
        j = ej;
    }
    return (a.size() - i > 0) - (b.size() - j > 0);
}

} // namespace

// ---- model -----------------------------------------------------------------------------------------------

TdvItemModel::TdvItemModel(const QList<QIcon>& images, QObject* parent)
    : QAbstractTableModel(parent), FImages(images)
{
}

int TdvItemModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(FRows.size());
}

int TdvItemModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString TdvItemModel::folderOf(const QString& source) const
{
    if (isWebAddress(source))
        return QString();
    QString folder = extractFilePath(source);
    // Below the source folder only the part that tells rows apart is shown.
    if (!FSourceFolder.isEmpty() && folder.startsWith(FSourceFolder))
        return folder.mid(FSourceFolder.size());
    return folder;
}

QVariant TdvItemModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= FRows.size())
        return QVariant();
    const Row& row = FRows.at(index.row());
    switch (role) {
    case StateRole:
        return row.Reported ? row.State : 0;
    case RowStateRole:
        return int(row.Shown);
    case SourceRole:
        return row.Source;
    case ResultRole:
        return row.Result;
    case ReportedRole:
        return row.Reported;
    case IndexRole:
        return index.row();
    case Qt::DecorationRole:
        if (index.column() == ColState)
            return FImages.value(imageOf(row.Shown));
        return QVariant();
    case Qt::AccessibleTextRole:
        if (index.column() != ColState)
            return data(index, Qt::DisplayRole);
        [[fallthrough]];
    case Qt::ToolTipRole:
        if (index.column() == ColState) {
            switch (row.Shown) {
            case TdvRowState::Waiting:
                return tr("Waiting");
            case TdvRowState::Converting:
                return tr("Converting");
            case TdvRowState::Converted:
                return tr("Converted");
            case TdvRowState::Failed:
                return tr("Failed");
            case TdvRowState::Skipped:
                return tr("Skipped");
            case TdvRowState::NotDone:
                return tr("Not done");
            }
        }
        return QVariant();
    case Qt::DisplayRole:
    case SortRole:
        switch (index.column()) {
        case ColState:
            if (role == SortRole)
                return qlonglong(rankOf(row.Shown)) << 32 | qlonglong(index.row());
            return QVariant();
        case ColName:
            return isWebAddress(row.Source) ? row.Source : extractFileName(row.Source);
        case ColFolder:
            return folderOf(row.Source);
        case ColResult:
            if (row.Shown == TdvRowState::Skipped && row.Result.isEmpty())
                return tr("Skipped: its PDF was there already");
            if (row.Shown == TdvRowState::NotDone)
                return tr("Not done");
            if (row.Shown == TdvRowState::Converting)
                return tr("Converting\u2026");
            return firstLine(row.Result);
        }
        return QVariant();
    }
    return QVariant();
}

QVariant TdvItemModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    switch (section) {
    case ColState:
        return QStringLiteral("@");
    case ColName:
        return tr("File Name");
    case ColFolder:
        return tr("Folder");
    case ColResult:
        return tr("Result");
    }
    return QVariant();
}

QStringList TdvItemModel::mimeTypes() const
{
    return {QStringLiteral("text/plain")};
}

void TdvItemModel::Clear()
{
    beginResetModel();
    FRows.clear();
    FDone = 0;
    FFailed = 0;
    endResetModel();
}

void TdvItemModel::SetSourceFolder(const QString& folder)
{
    if (folder == FSourceFolder)
        return;
    FSourceFolder = folder;
    if (!FRows.isEmpty())
        emit dataChanged(index(0, ColFolder), index(int(FRows.size()) - 1, ColFolder));
}

TdvItemModel::Row& TdvItemModel::rowAt(int index)
{
    // Rows may be told out of order (an outcome before its listing): make the rows up to the index.
    if (FRows.size() <= index) {
        beginInsertRows(QModelIndex(), int(FRows.size()), index);
        FRows.resize(index + 1);
        endInsertRows();
    }
    return FRows[index];
}

void TdvItemModel::changed(int row)
{
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

void TdvItemModel::Listed(int index, const QString& source)
{
    if (index < 0)
        return;
    Row& row = rowAt(index);
    // A listing never undoes an outcome that arrived first.
    if (row.Reported || row.Source == source)
        return;
    row.Source = source;
    changed(index);
}

void TdvItemModel::Started(int index)
{
    if (index < 0)
        return;
    Row& row = rowAt(index);
    if (row.Reported)
        return;
    row.Shown = TdvRowState::Converting;
    changed(index);
}

void TdvItemModel::Reported(int index, int state, bool skipped, const QString& source, const QString& result)
{
    if (index < 0)
        return;
    Row& row = rowAt(index);
    if (!row.Reported) {
        ++FDone;
        if (state == isFailed)
            ++FFailed;
    }
    row.Reported = true;
    row.Source = source;
    row.Result = result;
    row.State = state >= isRunning && state <= isFailed ? state : isRunning;
    row.Shown = state == isFailed ? TdvRowState::Failed
                : skipped         ? TdvRowState::Skipped
                : state == isDone ? TdvRowState::Converted
                                  : TdvRowState::NotDone;
    changed(index);
}

void TdvItemModel::MarkUnfinished(TdvRowState state)
{
    for (int i = 0; i < FRows.size(); ++i) {
        Row& row = FRows[i];
        if (!row.Reported && row.Shown != state) {
            row.Shown = state;
            changed(i);
        }
    }
}

TdvRowState TdvItemModel::RowState(int row) const
{
    return row >= 0 && row < FRows.size() ? FRows.at(row).Shown : TdvRowState::Waiting;
}

QString TdvItemModel::Source(int row) const
{
    return row >= 0 && row < FRows.size() ? FRows.at(row).Source : QString();
}

QString TdvItemModel::Result(int row) const
{
    return row >= 0 && row < FRows.size() ? FRows.at(row).Result : QString();
}

bool TdvItemModel::IsReported(int row) const
{
    return row >= 0 && row < FRows.size() && FRows.at(row).Reported;
}

int TdvItemModel::ReportedState(int row) const
{
    return IsReported(row) ? FRows.at(row).State : isRunning;
}

QString TdvItemModel::ResultLine(int row) const
{
    // A failure text gives its first line, as the row shows it; a PDF's path is given whole, whatever its
    // name holds. Control characters are escaped, so that one row is one line.
    const int state = ReportedState(row);
    const QString result = state == isDone ? Result(row) : firstLine(Result(row));
    return QStringLiteral("[%1] => %2 => %3")
        .arg(stateWord(state), escapeControls(Source(row)), escapeControls(result));
}

int TdvItemModel::Count(TdvRowState state) const
{
    int count = 0;
    for (const Row& row : FRows)
        if (row.Shown == state)
            ++count;
    return count;
}

// ---- filter and order ------------------------------------------------------------------------------------

TdvItemFilter::TdvItemFilter(QObject* parent) : QSortFilterProxyModel(parent)
{
    setSortRole(TdvItemModel::SortRole);
    setDynamicSortFilter(true);
}

void TdvItemFilter::SetShow(Show show)
{
    if (show == FShow)
        return;
    FShow = show;
    invalidateFilter();
}

void TdvItemFilter::SetText(const QString& text)
{
    if (text == FText)
        return;
    FText = text;
    invalidateFilter();
}

bool TdvItemFilter::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    const QModelIndex at = sourceModel()->index(sourceRow, 0, sourceParent);
    const auto state = TdvRowState(at.data(TdvItemModel::RowStateRole).toInt());
    bool shown = true;
    switch (FShow) {
    case ShowAll:
        break;
    case ShowFailed:
        shown = state == TdvRowState::Failed;
        break;
    case ShowConverted:
        shown = state == TdvRowState::Converted || state == TdvRowState::Skipped;
        break;
    case ShowWaiting:
        shown = state == TdvRowState::Waiting || state == TdvRowState::Converting ||
                state == TdvRowState::NotDone;
        break;
    }
    if (!shown || FText.isEmpty())
        return shown;
    return at.data(TdvItemModel::SourceRole).toString().contains(FText, Qt::CaseInsensitive) ||
           at.data(TdvItemModel::ResultRole).toString().contains(FText, Qt::CaseInsensitive);
}

bool TdvItemFilter::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    const QVariant a = left.data(TdvItemModel::SortRole);
    const QVariant b = right.data(TdvItemModel::SortRole);
    if (left.column() == TdvItemModel::ColState)
        return a.toLongLong() < b.toLongLong();
    const int order = naturalCompare(a.toString(), b.toString());
    // Rows that compare equal keep their listing order.
    return order != 0 ? order < 0 : left.row() < right.row();
}

// ---- hints -----------------------------------------------------------------------------------------------

TdvCellHints::TdvCellHints(QTreeView* view) : QStyledItemDelegate(view), FView(view) {}

QString TdvCellHints::Hint(const QModelIndex& index) const
{
    if (!index.isValid())
        return QString();
    const int column = index.column();
    if (column == TdvItemModel::ColState)
        return index.data(Qt::ToolTipRole).toString();
    if (column == TdvItemModel::ColName) {
        // The name alone does not say where the file is.
        return index.data(TdvItemModel::SourceRole).toString();
    }
    const QString shown = index.data(Qt::DisplayRole).toString();
    QString full = shown;
    if (column == TdvItemModel::ColResult && index.data(TdvItemModel::ReportedRole).toBool() &&
        !index.data(TdvItemModel::ResultRole).toString().isEmpty())
        full = index.data(TdvItemModel::ResultRole).toString();
    // The view keeps a margin on either side of a cell's text.
    const int margin = 2 * (FView->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, FView) + 1);
    const bool cut = FView->fontMetrics().horizontalAdvance(shown) > FView->columnWidth(column) - margin;
    return cut || full != shown ? full : QString();
}

bool TdvCellHints::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                             const QModelIndex& index)
{
    if (event->type() != QEvent::ToolTip || !index.isValid())
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    const QString hint = Hint(index);
    if (hint.isEmpty())
        return false;
    QToolTip::showText(event->globalPos(), hint, view->viewport(), option.rect);
    return true;
}

// ---- filter bar ------------------------------------------------------------------------------------------

TdvFilterBar::TdvFilterBar(TdvItemFilter* filter, const QString& keys, QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("pFilter"));
    cbFilter = new QComboBox(this);
    cbFilter->setObjectName(QStringLiteral("cbFilter"));
    cbFilter->addItem(tr("All files"), int(TdvItemFilter::ShowAll));
    cbFilter->addItem(tr("Failed"), int(TdvItemFilter::ShowFailed));
    cbFilter->addItem(tr("Converted"), int(TdvItemFilter::ShowConverted));
    cbFilter->addItem(tr("Waiting"), int(TdvItemFilter::ShowWaiting));
    cbFilter->setToolTip(tr("Show all rows or only those of one outcome"));
    eFilter = new QLineEdit(this);
    eFilter->setObjectName(QStringLiteral("eFilter"));
    eFilter->setPlaceholderText(tr("Filter by path or message (%1)").arg(keys));
    eFilter->setClearButtonEnabled(true);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(cbFilter);
    layout->addWidget(eFilter, 1);
    connect(cbFilter, &QComboBox::currentIndexChanged, filter,
            [this, filter] { filter->SetShow(TdvItemFilter::Show(cbFilter->currentData().toInt())); });
    connect(eFilter, &QLineEdit::textChanged, filter, &TdvItemFilter::SetText);
}
