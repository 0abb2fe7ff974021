#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QList>
#include <QSortFilterProxyModel>
#include <QStyledItemDelegate>
#include <QVector>

class QComboBox;
class QLineEdit;
class QTreeView;

// What a row of the list shows; finer than an item's state, so that a person can tell the files in work
// from those still waiting, and a skipped file from a converted one.
enum class TdvRowState {
    Waiting,    // listed, not yet taken by a worker
    Converting, // a worker has it
    Converted,
    Failed,
    Skipped, // its PDF was there and the overwrite rule said skip
    NotDone, // a stopped run never finished it
};

// One row per work item, in the batch's order (a row's number is its item's index).
class TdvItemModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { ColState, ColName, ColFolder, ColResult, ColumnCount };
    enum Role {
        StateRole = Qt::UserRole, // the item's state as it was reported (0 while not reported)
        RowStateRole,             // TdvRowState
        SourceRole,               // the whole source path
        ResultRole,               // the whole result text
        ReportedRole,             // a worker has told the item's outcome
        SortRole,                 // what the column sorts by
        IndexRole,                // the item's index
    };

    TdvItemModel(const QList<QIcon>& images, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    QStringList mimeTypes() const override;

    void Clear();
    // The folder the rows' own folders are shown relative to; empty shows each row's whole folder.
    void SetSourceFolder(const QString& folder);
    QString SourceFolder() const { return FSourceFolder; }

    // A listing, a worker taking the item and its outcome, in whatever order they arrive.
    void Listed(int index, const QString& source);
    void Started(int index);
    void Reported(int index, int state, bool skipped, const QString& source, const QString& result);
    // Rows that were not finished: NotDone after a stopped run, Waiting again when a paused batch resumes.
    void MarkUnfinished(TdvRowState state);

    TdvRowState RowState(int row) const;
    QString Source(int row) const;
    QString Result(int row) const;
    bool IsReported(int row) const;
    int ReportedState(int row) const;
    // The line that "Export the List" and Ctrl+C write for a row: "[State] => source => result".
    QString ResultLine(int row) const;

    int Done() const { return FDone; }
    int Failed() const { return FFailed; }
    int Count(TdvRowState state) const;

private:
    struct Row
    {
        QString Source;
        QString Result;
        int State = 0;
        TdvRowState Shown = TdvRowState::Waiting;
        bool Reported = false;
    };
    Row& rowAt(int index);
    void changed(int row);
    QString folderOf(const QString& source) const;

    QVector<Row> FRows;
    QList<QIcon> FImages;
    QString FSourceFolder;
    int FDone = 0;
    int FFailed = 0;
};

// The rows a person asks for, in the order they ask for.
class TdvItemFilter : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    enum Show { ShowAll, ShowFailed, ShowConverted, ShowWaiting };

    explicit TdvItemFilter(QObject* parent = nullptr);
    void SetShow(Show show);
    Show Shown() const { return FShow; }
    // Rows whose path or result hold this text, letter case ignored.
    void SetText(const QString& text);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    Show FShow = ShowAll;
    QString FText;
};

// Shows the whole text of a cell that shows only part of it.
class TdvCellHints : public QStyledItemDelegate
{
public:
    explicit TdvCellHints(QTreeView* view);
    // The whole text of the cell when it shows only part of it; empty otherwise.
    QString Hint(const QModelIndex& index) const;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

private:
    QTreeView* FView;
};

// Above the list: which rows to show, all or those of one outcome, and those that hold a text.
class TdvFilterBar : public QWidget
{
    Q_OBJECT
public:
    // keys: the shortcut that focuses the text, named in its placeholder.
    TdvFilterBar(TdvItemFilter* filter, const QString& keys, QWidget* parent = nullptr);

    QComboBox* cbFilter = nullptr;
    QLineEdit* eFilter = nullptr;
};
