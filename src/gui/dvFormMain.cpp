#include "gui/dvFormMain.h"

#include "discovery/dvFileUtils.h"
#include "engine/dvBatch.h"
#include "engine/dvRepeat.h"
#include "engine/dvRun.h"
#include "gui/dvFormAbout.h"
#include "gui/dvFormCfg.h"
#include "gui/dvIcons.h"
#include "project/dvError.h"
#include "project/dvProject.h"
#include "shell/dvApp.h"
#include "shell/dvInfo.h"
#include "shell/dvMain.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QStyledItemDelegate>
#include <QThread>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <cstdio>

TdvFrmMain* dvFrmMain = nullptr;

namespace {

constexpr int kStateRole = Qt::UserRole;        // the row's state (its icon index)
constexpr int kReportedRole = Qt::UserRole + 1; // a worker has reported the row
constexpr int kFullTextRole = Qt::UserRole + 2; // the whole result text, of which the cell shows a line
constexpr int kLineHeight = 21;                 // edits and buttons of the source and target lines
constexpr int kMinEditWidth = 120;

QStringList localPaths(const QMimeData* mime)
{
    QStringList paths;
    if (!mime || !mime->hasUrls())
        return paths;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    return paths;
}

QString firstLine(const QString& text)
{
    const QStringList lines = splitLines(text);
    return lines.isEmpty() ? QString() : lines.first();
}

// Shows the whole text of a list cell that shows only part of it; other cells leave the list's own hint.
class TdvCellHints : public QStyledItemDelegate
{
public:
    explicit TdvCellHints(TdvFrmMain* form) : QStyledItemDelegate(form), FForm(form) {}
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override
    {
        if (event->type() != QEvent::ToolTip || !index.isValid())
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        const QString hint = FForm->CellHint(FForm->lViewer->topLevelItem(index.row()), index.column());
        if (hint.isEmpty())
            return false;
        QToolTip::showText(event->globalPos(), hint, view->viewport(), option.rect);
        return true;
    }

private:
    TdvFrmMain* FForm;
};

} // namespace

// ---- action button ---------------------------------------------------------------------------------------

TdvActionButton::TdvActionButton(QWidget* parent) : QPushButton(parent)
{
    connect(this, &QPushButton::clicked, this, [this] {
        if (FAction && FAction->isEnabled())
            FAction->trigger();
    });
}

void TdvActionButton::setAction(QAction* action)
{
    if (FAction)
        disconnect(FAction, &QAction::changed, this, &TdvActionButton::sync);
    FAction = action;
    if (FAction)
        connect(FAction, &QAction::changed, this, &TdvActionButton::sync);
    sync();
}

void TdvActionButton::sync()
{
    if (!FAction)
        return;
    setText(FAction->text());
    setToolTip(FAction->toolTip() == QString(FAction->text()).remove(QLatin1Char('&')) ? QString()
                                                                                       : FAction->toolTip());
    setEnabled(FAction->isEnabled());
    setVisible(FAction->isVisible());
}

// ---- creation --------------------------------------------------------------------------------------------

TdvFrmMain::TdvFrmMain(QWidget* parent) : TdvFrmBase(parent)
{
    setObjectName(QStringLiteral("dvFrmMain"));
    dvFrmMain = this;
    imgList = makeImageList();
    createActions();
    createToolBar();
    createPanels();
    createList();
    createMenus();
    fitToolBar(); // after the menus: Open's drop-down arrow widens the bar

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(ToolBar);
    layout->addWidget(pAction);
    layout->addWidget(pSpacer);
    layout->addWidget(pViewer, 1);
    layout->addWidget(pStatus);

    FRepeat = new TdvRepeat([this] { guarded(this, [this] { AutoConvert(); }); }, this);
    ShowError = [this](const QString& message) { QMessageBox::warning(this, gProject->Title, message); };
    // Unexpected errors that no report page receives are shown through the same replaceable hook.
    gInfo->ShowError = [this](const QString& message) {
        if (ShowError)
            ShowError(message);
    };

    setAcceptDrops(true);
    guarded(this, [this] { FormCreate(); });
}

TdvFrmMain::~TdvFrmMain()
{
    FormDestroy();
    if (gInfo)
        gInfo->ShowError = printError;
    if (dvFrmMain == this)
        dvFrmMain = nullptr;
}

QAction* TdvFrmMain::newAction(const char* name, const QString& caption, const QString& hint, int image,
                               void (TdvFrmMain::*handler)())
{
    auto* action = new QAction(caption, this);
    action->setObjectName(QString::fromLatin1(name));
    action->setToolTip(hint.isEmpty() ? QString(caption).remove(QLatin1Char('&')) : hint);
    action->setStatusTip(hint);
    if (image >= 0 && image < imgList.size())
        action->setIcon(imgList.at(image));
    if (handler)
        connect(action, &QAction::triggered, this,
                [this, handler] { guarded(this, [this, handler] { (this->*handler)(); }); });
    actList.append(action);
    return action;
}

void TdvFrmMain::createActions()
{
    aConvert = newAction("aConvert", QStringLiteral("&Convert"),
                         QStringLiteral("Convert the file(s) instantly"), -1, &TdvFrmMain::aConvertExecute);
    aStop = newAction("aStop", QStringLiteral("Sto&p"), QString(), -1, &TdvFrmMain::aStopExecute);
    aOpen = newAction("aOpen", QStringLiteral("&Open"), QStringLiteral("Open a batch project"), imgOpen,
                      &TdvFrmMain::aOpenExecute);
    aNew = newAction("aNew", QStringLiteral("&New"), QStringLiteral("New a batch project"), imgNew,
                     &TdvFrmMain::aNewExecute);
    aConfig = newAction("aConfig", QStringLiteral("Config"),
                        QStringLiteral("Config the options of the batch project"), imgConfig,
                        &TdvFrmMain::aConfigExecute);
    aSave = newAction("aSave", QStringLiteral("Sa&ve"), QStringLiteral("Save the batch project"), imgSave,
                      &TdvFrmMain::aSaveExecute);
    aSaveAs =
        newAction("aSaveAs", QStringLiteral("Save &As"), QStringLiteral("Save the batch project as ..."),
                  imgSaveAs, &TdvFrmMain::aSaveAsExecute);
    aUpdate = newAction("aUpdate", QStringLiteral("Check &Update"), QString(), imgUpdate,
                        &TdvFrmMain::aUpdateExecute);
    aHelp = newAction("aHelp", QStringLiteral("&Help"), QString(), imgHelp, &TdvFrmMain::aHelpExecute);
    aHomePage =
        newAction("aHomePage", QStringLiteral("Home"), QString(), imgHome, &TdvFrmMain::aHomePageExecute);
    aSupports =
        newAction("aSupports", QStringLiteral("Support"), QStringLiteral("Send us e-mail for support"),
                  imgSupport, &TdvFrmMain::aSupportsExecute);
    aAbout = newAction("aAbout", QStringLiteral("About"), QString(), imgAbout, &TdvFrmMain::aAboutExecute);
    aSearch =
        newAction("aSearch", QStringLiteral("Search"), QStringLiteral("Search files from the source folder"),
                  imgSearch, &TdvFrmMain::aSearchExecute);
    aView = newAction("aView", QStringLiteral("View"), QStringLiteral("View the convert result"), -1,
                      &TdvFrmMain::aViewExecute);
    aSearchConvert = newAction("aSearchConvert", QStringLiteral("Start"), QString(), imgConvert,
                               &TdvFrmMain::aSearchConvertExecute);
    aSearchConvert->setVisible(false);
    aPause = newAction("aPause", QStringLiteral("Pause"), QString(), -1, &TdvFrmMain::aPauseExecute);
    aStop->setData(0);

    // The keys a desktop user tries first; the captions' Alt accelerators come on top.
    aOpen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    aNew->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    aConfig->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    aSave->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    aSaveAs->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    aHelp->setShortcut(QKeySequence(Qt::Key_F1));
    aAbout->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F1));
    for (QAction* action : std::as_const(actList)) {
        QStringList keys;
        if (!action->shortcut().isEmpty())
            keys.append(action->shortcut().toString(QKeySequence::NativeText));
        const QKeySequence mnemonic = QKeySequence::mnemonic(action->text());
        if (!mnemonic.isEmpty())
            keys.append(mnemonic.toString(QKeySequence::NativeText));
        if (!keys.isEmpty())
            action->setToolTip(action->toolTip() + QLatin1String(" (") + keys.join(QLatin1String(", ")) +
                               QLatin1Char(')'));
    }
}

void TdvFrmMain::createToolBar()
{
    ToolBar = new QToolBar(this);
    ToolBar->setObjectName(QStringLiteral("ToolBar"));
    ToolBar->setMovable(false);
    ToolBar->setFloatable(false);
    ToolBar->setIconSize(QSize(16, 16));
    ToolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    const auto button = [this](QAction* action, const char* name) {
        // A tool button shows the icon text, which drops the accelerator unless it is given explicitly.
        if (action->text().contains(QLatin1Char('&')))
            action->setIconText(action->text());
        ToolBar->addAction(action);
        auto* b = qobject_cast<QToolButton*>(ToolBar->widgetForAction(action));
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoRaise(true);
        return b;
    };
    tbOpen = button(aOpen, "tbOpen");
    tbNew = button(aNew, "tbNew");
    tbConfig = button(aConfig, "tbConfig");
    tbSave = button(aSave, "tbSave");
    tbSaveAs = button(aSaveAs, "tbSaveAs");
    tb1 = ToolBar->addSeparator();
    tb1->setObjectName(QStringLiteral("tb1"));
    tbUpdate = button(aUpdate, "tbUpdate");
    tb2 = ToolBar->addSeparator();
    tb2->setObjectName(QStringLiteral("tb2"));
    tbHelp = button(aHelp, "tbHelp");
    tbHomePage = button(aHomePage, "tbHomePage");
    tbSupports = button(aSupports, "tbSupports");
    tbAbout = button(aAbout, "tbAbout");
}

void TdvFrmMain::fitToolBar()
{
    // Every command stays on the bar: the window is never narrower than the bar's buttons.
    ToolBar->setMinimumWidth(0);
    ToolBar->setMinimumWidth(ToolBar->sizeHint().width());
}

void TdvFrmMain::createPanels()
{
    const auto panel = [](QWidget* parent, const char* name, int height, const QString& hint) {
        auto* p = new QFrame(parent);
        p->setObjectName(QString::fromLatin1(name));
        if (height > 0)
            p->setFixedHeight(height);
        p->setToolTip(hint);
        return p;
    };
    const auto pushButton = [](QWidget* parent, const char* name, const QString& caption,
                               const QString& hint) {
        auto* b = new QPushButton(caption, parent);
        b->setObjectName(QString::fromLatin1(name));
        b->setToolTip(hint);
        b->setAutoDefault(false);
        return b;
    };
    const auto actionButton = [](QWidget* parent, const char* name, QAction* action) {
        auto* b = new TdvActionButton(parent);
        b->setObjectName(QString::fromLatin1(name));
        b->setAction(action);
        return b;
    };
    const auto labelledEdit = [](QWidget* parent, const char* name, const char* labelName,
                                 const QString& caption, QLabel*& label) {
        auto* edit = new QLineEdit(parent);
        edit->setObjectName(QString::fromLatin1(name));
        edit->setFixedHeight(kLineHeight);
        edit->setMinimumWidth(kMinEditWidth);
        label = new QLabel(caption, parent);
        label->setObjectName(QString::fromLatin1(labelName));
        label->setBuddy(edit);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        label->setFixedSize(std::max(46, label->sizeHint().width()), kLineHeight);
        // Drops are the window's: it decides by the control under the mouse.
        edit->setAcceptDrops(false);
        return edit;
    };

    auto* actionPanel = new QFrame(this);
    actionPanel->setObjectName(QStringLiteral("pAction"));
    actionPanel->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    actionPanel->setFixedHeight(70);
    pAction = actionPanel;

    pSource = panel(pAction, "pSource", 32, QStringLiteral("Choose or drag & drop source folder or file(s)"));
    eSource = labelledEdit(pSource, "eSource", "lblSource", QStringLiteral("&Source"), lblSource);
    bSource = pushButton(pSource, "bSource", QStringLiteral("Folder"),
                         QStringLiteral("Choose a folder and click \"Search\" to list files"));
    bSourceFile = pushButton(pSource, "bSourceFile", QStringLiteral("Files"),
                             QStringLiteral("Choose file(s) and click \"Convert\" to convert them"));
    cSubdir = new QCheckBox(QStringLiteral("Su&b folders"), pSource);
    cSubdir->setObjectName(QStringLiteral("cSubdir"));
    cSubdir->setLayoutDirection(Qt::RightToLeft); // caption left of the box
    bSearch = actionButton(pSource, "bSearch", aSearch);

    pTarget = panel(pAction, "pTarget", 30, QStringLiteral("Choose or drag & drop target folder"));
    eTarget = labelledEdit(pTarget, "eTarget", "lblTarget", QStringLiteral("&Target"), lblTarget);
    bTarget = pushButton(pTarget, "bTarget", QStringLiteral("Folder"),
                         QStringLiteral("Choose a target folder to save the converted file(s)"));
    bView = actionButton(pTarget, "bView", aView);
    bSearchConvert = actionButton(pTarget, "bSearchConvert", aSearchConvert);
    // Start is hidden until it turns into Stop; Convert below Search keeps its place meanwhile.
    QSizePolicy keepPlace = bSearchConvert->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    bSearchConvert->setSizePolicy(keepPlace);
    bCreate = actionButton(pTarget, "bCreate", aConvert);

    // The two lines share their columns: the edits take what the window gives, the controls keep the grid's
    // widths, or what their captions need in the fonts found here.
    const auto fit = [](QWidget* control, int width, const QStringList& captions) {
        for (const QString& caption : captions)
            width = std::max(
                width,
                control->fontMetrics().horizontalAdvance(QString(caption).remove(QLatin1Char('&'))) + 10);
        return width;
    };
    const int column1 = std::max(fit(bSource, 38, {bSource->text()}), fit(bTarget, 38, {bTarget->text()}));
    const int column2 =
        std::max(fit(bSourceFile, 38, {bSourceFile->text()}), fit(bView, 38, {aView->text()}));
    const int column3 = std::max(
        {76, cSubdir->sizeHint().width(), fit(bSearchConvert, 76, {aSearchConvert->text(), aStop->text()})});
    const int column4 =
        std::max(fit(bSearch, 76, {aSearch->text()}), fit(bCreate, 76, {aConvert->text(), aPause->text()}));
    const auto line = [&](QWidget* p, QLabel* label, QLineEdit* edit, const QList<QWidget*>& controls) {
        const int widths[] = {column1, column2, column3, column4};
        const int gaps[] = {0, 0, 4, 4};
        auto* row = new QHBoxLayout(p);
        row->setContentsMargins(0, 5, 6, 0);
        row->setSpacing(0);
        row->addWidget(label);
        row->addSpacing(4);
        row->addWidget(edit, 1);
        for (int i = 0; i < controls.size(); ++i) {
            row->addSpacing(gaps[i]);
            controls[i]->setFixedSize(widths[i], kLineHeight);
            row->addWidget(controls[i]);
        }
    };
    line(pSource, lblSource, eSource, {bSource, bSourceFile, cSubdir, bSearch});
    line(pTarget, lblTarget, eTarget, {bTarget, bView, bSearchConvert, bCreate});

    pOthers = panel(pAction, "pOthers", 0, QString());
    auto* actionLayout = new QVBoxLayout(pAction);
    actionLayout->setContentsMargins(1, 1, 1, 1);
    actionLayout->setSpacing(0);
    actionLayout->addWidget(pSource);
    actionLayout->addWidget(pTarget);
    actionLayout->addWidget(pOthers, 1);

    pSpacer = panel(this, "pSpacer", 2, QString());

    setTabOrder(eSource, bSource);
    setTabOrder(bSource, bSourceFile);
    setTabOrder(bSourceFile, cSubdir);
    setTabOrder(cSubdir, bSearch);
    setTabOrder(bSearch, eTarget);
    setTabOrder(eTarget, bTarget);
    setTabOrder(bTarget, bSearchConvert);
    setTabOrder(bSearchConvert, bCreate);
    setTabOrder(bCreate, bView);

    connect(bSource, &QPushButton::clicked, this, [this] { guarded(this, [this] { bSourceClick(); }); });
    connect(bSourceFile, &QPushButton::clicked, this,
            [this] { guarded(this, [this] { bSourceFileClick(); }); });
    connect(bTarget, &QPushButton::clicked, this, [this] { guarded(this, [this] { bTargetClick(); }); });
    eSource->installEventFilter(this);
    eTarget->installEventFilter(this);

    // The status line: how far the run is.
    pStatus = panel(this, "pStatus", 22, QString());
    auto* statusLayout = new QHBoxLayout(pStatus);
    statusLayout->setContentsMargins(4, 2, 4, 2);
    lblCount = new QLabel(pStatus);
    lblCount->setObjectName(QStringLiteral("lblCount"));
    // Its changing text must not change the window's minimum width.
    lblCount->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    pbRun = new QProgressBar(pStatus);
    pbRun->setObjectName(QStringLiteral("pbRun"));
    pbRun->setRange(0, 1);
    pbRun->setValue(0);
    pbRun->setTextVisible(false);
    pbRun->setFixedWidth(240);
    statusLayout->addWidget(lblCount, 1);
    statusLayout->addWidget(pbRun);
}

void TdvFrmMain::createList()
{
    auto* viewerPanel = new QFrame(this);
    viewerPanel->setObjectName(QStringLiteral("pViewer"));
    viewerPanel->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    pViewer = viewerPanel;
    lViewer = new QTreeWidget(pViewer);
    lViewer->setObjectName(QStringLiteral("lViewer"));
    lViewer->setToolTip(QStringLiteral("Drag & drop file(s) here and click \"Convert\" to convert them"));
    lViewer->setFrameShape(QFrame::NoFrame);
    lViewer->setColumnCount(3);
    lViewer->setHeaderLabels({QStringLiteral("@"), QStringLiteral("File Name"), QStringLiteral("Result")});
    lViewer->setRootIsDecorated(false);
    lViewer->setUniformRowHeights(true);
    lViewer->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lViewer->setSelectionBehavior(QAbstractItemView::SelectRows);
    lViewer->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lViewer->setIconSize(QSize(16, 16));
    lViewer->setAcceptDrops(false);
    lViewer->viewport()->setAcceptDrops(false);
    lViewer->setMinimumHeight(100);
    lViewer->setItemDelegate(new TdvCellHints(this));
    QHeaderView* header = lViewer->header();
    // Result takes whatever width the window gives beyond the first two columns.
    header->setStretchLastSection(true);
    header->setMinimumSectionSize(30);
    header->setSectionResizeMode(0, QHeaderView::Fixed);
    header->resizeSection(0, 30);
    header->resizeSection(1, 370);
    header->resizeSection(2, 370);
    auto* layout = new QVBoxLayout(pViewer);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->addWidget(lViewer);

    connect(lViewer, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* row) { guarded(this, [this, row] { OpenRow(row); }); });
    lViewer->installEventFilter(this);
}

void TdvFrmMain::createMenus()
{
    pm1 = new QMenu(this);
    pm1->setObjectName(QStringLiteral("pm1"));
    const auto item = [this](QMenu* menu, const char* name, const QString& caption) {
        QAction* a = menu->addAction(caption);
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };
    const auto separator = [](QMenu* menu, const char* name) {
        QAction* a = menu->addSeparator();
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };
    BrowseFiles1 = item(pm1, "BrowseFiles1", QStringLiteral("Browse Files"));
    N1 = separator(pm1, "N1");
    ViewSource1 = item(pm1, "ViewSource1", QStringLiteral("View  Source"));
    OpenSource1 = item(pm1, "OpenSource1", QStringLiteral("Open Source"));
    N2 = separator(pm1, "N2");
    ViewOutput1 = item(pm1, "ViewOutput1", QStringLiteral("View  Output"));
    N3 = separator(pm1, "N3");
    ExportList1 = item(pm1, "ExportList1", QStringLiteral("Export the List"));
    connect(BrowseFiles1, &QAction::triggered, this,
            [this] { guarded(this, [this] { bSourceFileClick(); }); });
    connect(ViewSource1, &QAction::triggered, this,
            [this] { guarded(this, [this] { ViewSource1Click(); }); });
    connect(OpenSource1, &QAction::triggered, this,
            [this] { guarded(this, [this] { OpenSource1Click(); }); });
    connect(ViewOutput1, &QAction::triggered, aView, &QAction::trigger);
    connect(ExportList1, &QAction::triggered, this,
            [this] { guarded(this, [this] { ExportList1Click(); }); });
    connect(pm1, &QMenu::aboutToShow, this, [this] { guarded(this, [this] { pm1Popup(); }); });
    lViewer->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lViewer, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { pm1->popup(lViewer->viewport()->mapToGlobal(pos)); });

    pm2 = new QMenu(this);
    pm2->setObjectName(QStringLiteral("pm2"));
    connect(pm2, &QMenu::aboutToShow, this, [this] { guarded(this, [this] { pm2Popup(); }); });
    tbOpen->setMenu(pm2);
    tbOpen->setPopupMode(QToolButton::MenuButtonPopup);
}

void TdvFrmMain::RegisterControls()
{
    const auto bind = [](QWidget* control, const char* property) {
        control->setProperty("bindProperty", QString::fromLatin1(property));
        gProject->BindControl(control);
    };
    bind(eSource, "Text");
    bind(cSubdir, "Checked");
    bind(eTarget, "Text");
}

// ---- lifecycle -------------------------------------------------------------------------------------------

void TdvFrmMain::FormCreate()
{
    RegisterControls();
    UpdateLinkCommands();
    gProject->OpenStartupProject();
    UpdateTitle();
    updateStatus();
}

void TdvFrmMain::showEvent(QShowEvent* event)
{
    TdvFrmBase::showEvent(event);
    guarded(this, [this] { FormShow(); });
}

void TdvFrmMain::FormShow()
{
    if (FShownOnce)
        return;
    FShownOnce = true;
    // After the window is up, so a run-and-close start shows its rows and may close the window.
    QMetaObject::invokeMethod(
        this, [this] { guarded(this, [this] { AutoConvert(); }); }, Qt::QueuedConnection);
}

void TdvFrmMain::closeEvent(QCloseEvent* event)
{
    FRepeat->Disarm();
    if (FRun) {
        // Workers end only after their current files: the window says so, stays responsive, and closes
        // when the last one has ended.
        event->ignore();
        if (!FCloseWhenEnded) {
            FCloseWhenEnded = true;
            FStopped = true;
            showEnding(QStringLiteral("Stopping"));
            FRun->Stop();
        }
        return;
    }
    event->accept();
}

void TdvFrmMain::FormDestroy()
{
    FRepeat->Disarm();
    // Freed here, the run stops and waits for its workers; their events for this window are dropped.
    FRun.reset();
    try {
        releaseBatch();
    } catch (...) {
        // Freeing a batch is a side operation at the end.
    }
    setAcceptDrops(false);
}

void TdvFrmMain::UpdateTitle()
{
    const QString file = gProject->ProjectFile.isEmpty() ? QStringLiteral("None") : gProject->ProjectFile;
    setWindowTitle(gProject->Title + QLatin1String(" - ") + file);
}

// ---- source and target -----------------------------------------------------------------------------------

void TdvFrmMain::FillTarget(const QString& folder)
{
    // A web address has no folder of ours to write into.
    if (gProject->TargetFollowsSource && eTarget->text().isEmpty() && !isWebAddress(folder))
        eTarget->setText(folder);
}

void TdvFrmMain::bSourceClick()
{
    // A cancelled dialog changes nothing: an empty form must not end up searching the whole file system.
    QString folder = extractFilePath(eSource->text());
    if (gApp->BrowseForFolder(folder))
        SetSourceFolder(folder);
}

void TdvFrmMain::SetSourceFolder(QString folder)
{
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    eSource->setText(folder + gProject->SourcePattern);
    FillTarget(folder);
}

void TdvFrmMain::bSourceFileClick()
{
    // The batch cannot be replaced under the workers of a run.
    if (FRun)
        return;
    QString answer = eSource->text();
    if (!gApp->OpenFileDialog(gProject->SourceFilter, answer, true))
        return;
    answer = answer.trimmed();
    if (!answer.contains(QLatin1Char('\n')))
        eSource->setText(answer);
    NewBatch();
    for (const QString& line : splitLines(answer)) {
        const QString path = line.trimmed();
        if (!path.isEmpty())
            AddSource(path);
    }
}

void TdvFrmMain::bTargetClick()
{
    QString folder = eTarget->text();
    if (!gApp->BrowseForFolder(folder))
        return;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    eTarget->setText(folder);
}

void TdvFrmMain::aViewExecute()
{
    if (eTarget->text().isEmpty()) {
        eTarget->setFocus();
        return;
    }
    gInfo->Opener(eTarget->text());
}

void TdvFrmMain::OpenSelected(bool folderOnly)
{
    const QList<QTreeWidgetItem*> selected = lViewer->selectedItems();
    if (selected.isEmpty())
        return;
    // The first selected row in list order.
    QTreeWidgetItem* first = selected.first();
    for (QTreeWidgetItem* row : selected)
        if (lViewer->indexOfTopLevelItem(row) < lViewer->indexOfTopLevelItem(first))
            first = row;
    QString path = first->text(1);
    if (folderOnly)
        path = extractFilePath(path);
    if (gInfo->Opener && !path.isEmpty())
        gInfo->Opener(path);
}

void TdvFrmMain::OpenRow(QTreeWidgetItem* row)
{
    if (!row || !row->data(0, kReportedRole).toBool())
        return;
    const QString result = row->data(2, kFullTextRole).toString();
    const int state = row->data(0, kStateRole).toInt();
    if (state == isDone && !result.isEmpty() && gInfo->Opener)
        gInfo->Opener(result);
    else if (state == isFailed && ShowError)
        ShowError(result);
}

QString TdvFrmMain::CellHint(const QTreeWidgetItem* row, int column) const
{
    if (!row || column < 1)
        return QString();
    const QString shown = row->text(column);
    const QString full =
        column == 2 && row->data(0, kReportedRole).toBool() ? row->data(2, kFullTextRole).toString() : shown;
    // The view keeps a margin on either side of a cell's text.
    const int margin =
        2 * (lViewer->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, lViewer) + 1);
    const bool cut = lViewer->fontMetrics().horizontalAdvance(shown) > lViewer->columnWidth(column) - margin;
    return cut || full != shown ? full : QString();
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
    const bool selected = !lViewer->selectedItems().isEmpty();
    OpenSource1->setEnabled(selected);
    ViewSource1->setEnabled(selected);
}

void TdvFrmMain::pm2Popup()
{
    pm2->clear();
    for (const QString& path : std::as_const(gProject->RecentProjects)) {
        // An ampersand in a path is shown as such, not taken as an accelerator.
        QAction* item = pm2->addAction(QString(path).replace(QLatin1Char('&'), QLatin1String("&&")));
        item->setData(path);
        item->setEnabled(QFileInfo::exists(path));
        connect(item, &QAction::triggered, this,
                [this, path] { guarded(this, [this, path] { RecentProjectClick(path); }); });
    }
}

void TdvFrmMain::RecentProjectClick(const QString& path)
{
    gProject->ProjectFile = path;
    gProject->OpenProject(false);
    UpdateTitle();
}

// ---- project and information commands --------------------------------------------------------------------

void TdvFrmMain::aOpenExecute()
{
    gProject->OpenProject(true);
    UpdateTitle();
}

void TdvFrmMain::aNewExecute()
{
    gProject->NewProject();
    UpdateTitle();
}

void TdvFrmMain::aConfigExecute()
{
    if (!FCfg)
        FCfg = new TdvFrmCfg(this);
    FCfg->ShowModal();
    UpdateTitle();
}

void TdvFrmMain::aSaveExecute()
{
    gProject->Save();
    UpdateTitle();
}

void TdvFrmMain::aSaveAsExecute()
{
    gProject->SaveAs();
    UpdateTitle();
}

void TdvFrmMain::UpdateLinkCommands()
{
    // A build without a site or a support address has nowhere to send these: hide them rather than leave
    // commands that do nothing.
    const bool site = !gInfo->SiteRoot.isEmpty();
    aUpdate->setVisible(site);
    tb1->setVisible(site);
    aHomePage->setVisible(site);
    aSupports->setVisible(!gInfo->SupportMail.isEmpty());
    fitToolBar();
}

void TdvFrmMain::aUpdateExecute()
{
    gInfo->OpenLink(QStringLiteral("download"), QString(), QString());
}

void TdvFrmMain::aHelpExecute()
{
    gInfo->OpenLink(QStringLiteral("h"), QString(), QString());
    gInfo->IncCounter(QStringLiteral("H"), 0, 1);
}

void TdvFrmMain::aHomePageExecute()
{
    gInfo->OpenLink(QString(), QString(), QString());
}

void TdvFrmMain::aSupportsExecute()
{
    gInfo->OpenLink(QStringLiteral("supports"), QString(), QString());
}

void TdvFrmMain::aAboutExecute()
{
    if (dvFrmAbout)
        dvFrmAbout->ShowAbout();
}

// ---- drag and drop ---------------------------------------------------------------------------------------

bool TdvFrmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lViewer && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        // Enter on a row does what a double-click does.
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && lViewer->currentItem()) {
            guarded(this, [this] { OpenRow(lViewer->currentItem()); });
            return true;
        }
    }
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (watched == eSource) {
            guarded(this, [this] { bSourceFileClick(); });
            return true;
        }
        if (watched == eTarget) {
            guarded(this, [this] { bTargetClick(); });
            return true;
        }
    }
    return TdvFrmBase::eventFilter(watched, event);
}

void TdvFrmMain::dragEnterEvent(QDragEnterEvent* event)
{
    if (!localPaths(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TdvFrmMain::dragMoveEvent(QDragMoveEvent* event)
{
    if (!localPaths(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TdvFrmMain::dropEvent(QDropEvent* event)
{
    const QStringList paths = localPaths(event->mimeData());
    const QPoint pos = event->position().toPoint();
    bool taken = false;
    guarded(this, [&] { taken = WMDropFiles(pos, paths); });
    if (taken)
        event->acceptProposedAction();
    else
        event->ignore();
}

bool TdvFrmMain::WMDropFiles(const QPoint& pos, const QStringList& paths)
{
    if (paths.isEmpty())
        return false;
    QWidget* under = childAt(pos);
    QLineEdit* edit = nullptr;
    bool list = false;
    for (QWidget* w = under; w && w != this; w = w->parentWidget()) {
        if (w == eSource || w == eTarget) {
            edit = static_cast<QLineEdit*>(w);
            break;
        }
        if (w == lViewer) {
            list = true;
            break;
        }
    }
    if (!edit && !list)
        return false;
    // During a run the list keeps its batch: its workers still use it.
    if (list && FRun && !(paths.size() == 1 && gProject->IsProjectFile(paths.first())))
        return false;
    for (int i = 0; i < paths.size(); ++i) {
        const QString& path = paths.at(i);
        if (paths.size() == 1 && gProject->IsProjectFile(path)) {
            gProject->ProjectFile = path;
            gProject->OpenProject(false);
            UpdateTitle();
            return true;
        }
        if (edit) {
            // A folder on the source is a folder to search, as the Folder button makes it.
            if (edit == eSource && QFileInfo(path).isDir()) {
                SetSourceFolder(path);
            } else {
                edit->setText(path);
                FillTarget(extractFilePath(path));
            }
            return true;
        }
        if (i == 0)
            NewBatch();
        AddSource(path);
    }
    return true;
}

// ---- batch and rows --------------------------------------------------------------------------------------

void TdvFrmMain::releaseBatch()
{
    // Never under the workers of a run: they draw items from it until they end.
    if (!FBatch || FRun)
        return;
    // Rows of a batch being freed are no longer wanted; its search thread only posts, so the wait is short.
    ++FBatchSerial;
    FBatch->OnListed = nullptr;
    FBatch.reset();
}

void TdvFrmMain::NewBatch()
{
    if (FRun)
        return;
    try {
        releaseBatch();
    } catch (...) {
        FBatch.release(); // a batch that failed to free is left behind rather than freed twice
    }
    ++FBatchSerial;
    FBatch = std::make_unique<TdvBatch>();
    FBatchFed = false;
    lViewer->clear();
    FDoneCount = 0;
    FFailedCount = 0;
    FBatch->OnListed = &TdvFrmMain::OnItemListed;
    FBatch->OnListedContext = this;
    updateStatus();
}

void TdvFrmMain::AddSource(const QString& path)
{
    FillTarget(extractFilePath(path));
    if (!FBatch)
        NewBatch();
    FBatchFed = true;
    FBatch->AddSingleSource(path);
}

void TdvFrmMain::OnItemListed(void* context, TdvBatch* batch, TdvNode* item)
{
    (void)batch;
    auto* self = static_cast<TdvFrmMain*>(context);
    // Only the index and the source: a worker may already be changing the item's state and result.
    self->postRow(item->Index, 0, item->Source, QString(), false);
}

void TdvFrmMain::postRow(int index, int state, const QString& source, const QString& result, bool reported)
{
    const quint64 serial = FBatchSerial.load();
    if (QThread::currentThread() == thread()) {
        applyRow(serial, index, state, source, result, reported);
        return;
    }
    QMetaObject::invokeMethod(
        this,
        [this, serial, index, state, source, result, reported] {
            applyRow(serial, index, state, source, result, reported);
        },
        Qt::QueuedConnection);
}

QTreeWidgetItem* TdvFrmMain::rowAt(int index)
{
    // Posts may arrive out of order (a result before its listing): make rows up to the index.
    while (lViewer->topLevelItemCount() <= index) {
        auto* row = new QTreeWidgetItem();
        row->setIcon(0, imgList.at(imgRunning));
        row->setData(0, kStateRole, int(isRunning));
        lViewer->addTopLevelItem(row);
    }
    return lViewer->topLevelItem(index);
}

void TdvFrmMain::applyRow(quint64 serial, int index, int state, const QString& source, const QString& result,
                          bool reported)
{
    if (serial != FBatchSerial.load() || index < 0)
        return;
    QTreeWidgetItem* row = rowAt(index);
    const bool wasReported = row->data(0, kReportedRole).toBool();
    if (!reported) {
        // A listing never undoes a result that arrived first.
        if (!wasReported)
            row->setText(1, source);
    } else {
        row->setText(1, source);
        row->setText(2, firstLine(result));
        row->setData(2, kFullTextRole, result);
        const int icon = state >= isRunning && state <= isFailed ? state : isRunning;
        row->setIcon(0, imgList.at(icon));
        row->setData(0, kStateRole, state);
        row->setData(0, kReportedRole, true);
        if (!wasReported) {
            ++FDoneCount;
            if (state == isFailed)
                ++FFailedCount;
        }
    }
    updateStatus();
}

QTreeWidgetItem* TdvFrmMain::ShowItem(const QString& path, TdvBatch* batch, TdvNode* item)
{
    if (!item) {
        AddSource(path);
        return nullptr;
    }
    (void)batch;
    QTreeWidgetItem* row = rowAt(item->Index);
    if (row->text(1).isEmpty())
        row->setText(1, path);
    return row;
}

void TdvFrmMain::updateStatus()
{
    const int total = lViewer->topLevelItemCount();
    if (FRun && !FEnding.isEmpty())
        lblCount->setText(QStringLiteral("%1: finishing %2 %3")
                              .arg(FEnding)
                              .arg(RunningWorkers())
                              .arg(RunningWorkers() == 1 ? QStringLiteral("file") : QStringLiteral("files")));
    else
        lblCount->setText(QStringLiteral("%1 of %2, %3 failed").arg(FDoneCount).arg(total).arg(FFailedCount));
    pbRun->setRange(0, std::max(total, 1));
    pbRun->setValue(std::min(FDoneCount, std::max(total, 1)));
}

// ---- running a batch -------------------------------------------------------------------------------------

QString reduceTarget(const QString& target)
{
    QString text = target;
    for (;;) {
        QString bare = text;
        while (bare.size() > 1 && bare.endsWith(QLatin1Char('/')))
            bare.chop(1);
        const bool web = isWebAddress(text);
        const bool wildcards = text.contains(QLatin1Char('?')) || text.contains(QLatin1Char('*'));
        // The colon test guarded drive letters; on Linux only a web address can have a colon out of place.
        const bool colon = web && text.indexOf(QLatin1Char(':')) >= 10;
        const QFileInfo info(bare);
        const bool file = !web && !bare.isEmpty() && info.exists() && !info.isDir();
        if (!wildcards && !colon && !file)
            break;
        const QString folder = extractFilePath(bare);
        if (folder.size() >= text.size())
            break;
        text = folder;
    }
    return text;
}

void TdvFrmMain::aSearchExecute()
{
    if (FRun)
        return;
    if (eSource->text().isEmpty()) {
        eSource->setFocus();
        CheckRunAndClose();
        return;
    }
    const QString source = absolutePath(eSource->text().trimmed());
    if (isWebAddress(source)) {
        NewBatch();
        AddSource(source);
        return;
    }
    // As Convert does: the search needs a folder to place its targets in.
    if (eTarget->text().trimmed().isEmpty()) {
        eTarget->setFocus();
        CheckRunAndClose();
        return;
    }
    // The edits show the absolute paths the run uses, not the current folder they depended on.
    const QString target = absolutePath(eTarget->text().trimmed());
    if (source != eSource->text())
        eSource->setText(source);
    if (target != eTarget->text())
        eTarget->setText(target);
    NewBatch();
    if (gProject->Daemon() > 0)
        FBatch->ListFilter = [repeat = FRepeat](const QString& path) { return repeat->Take(path); };
    FBatch->StartSearch(source, target, cSubdir->isChecked());
    FBatchFed = true;
}

void TdvFrmMain::aSearchConvertExecute()
{
    aSearchExecute();
    aConvertExecute();
}

void TdvFrmMain::aConvertExecute()
{
    if (FRun)
        return; // a periodic start while the user's own run goes on
    const auto targetMissing = [this] {
        eTarget->setFocus();
        CheckRunAndClose();
    };
    if (eTarget->text().isEmpty()) {
        targetMissing();
        return;
    }
    // A "file:" address is read as its local path before anything is made: taken as it stands it would
    // become a "file:" folder in the current folder.
    QString local = eTarget->text();
    if (!isWebAddress(local)) {
        try {
            local = TdvBatch::NormalizePath(local);
        } catch (const std::exception& e) {
            eTarget->setFocus();
            if (ShowError)
                ShowError(errorMessage(e));
            return;
        }
    }
    const QString reduced = reduceTarget(local);
    if (reduced != eTarget->text())
        eTarget->setText(reduced);
    if (reduced.isEmpty()) {
        targetMissing();
        return;
    }
    QString target = reduced;
    if (!isWebAddress(target) && !QFileInfo(target).isDir())
        QDir().mkpath(target); // a failure shows as failed items
    if (!target.endsWith(QLatin1Char('/'))) {
        target += QLatin1Char('/');
        eTarget->setText(target);
    }
    gProject->StoreOptions(false);

    // A list that is spent or found nothing is listed afresh, so an edited source is picked up at once.
    if (!FBatch || !FBatchFed || FBatch->IsExhausted() || (FBatch->IsListed() && FBatch->ItemCount() == 0))
        aSearchExecute();
    // No source: Search has focused it and run the unattended step. An exhausted batch is not run again:
    // its workers would find nothing and its tallies would be counted twice.
    if (!FBatch || !FBatchFed || FBatch->IsExhausted())
        return;

    try {
        FRun = std::make_unique<TdvRun>(FBatch.get(), target, &TdvFrmMain::OnItemDone, this);
    } catch (const TdvError& e) {
        // An option the run cannot start with (a malformed OfficeServers entry) is the user's to mend.
        if (ShowError)
            ShowError(errorMessage(e));
        return;
    }
    FCloseWhenEnded = false;
    FRun->SetOnWorkerEnded(this, [this](int running) { guarded(this, [&] { OnWorkerEnded(running); }); });
    setRunning(true);
    FRun->Start();
    gInfo->IncCounter(QStringLiteral("C"), 0, 1);
    FStopped = false;
}

void TdvFrmMain::setRunning(bool running)
{
    FEnding.clear();
    aConvert->setEnabled(!running);
    aSearchConvert->setEnabled(!running);
    aSearch->setEnabled(!running);
    bSourceFile->setEnabled(!running);
    BrowseFiles1->setEnabled(!running);
    if (running) {
        aStop->setEnabled(true);
        aPause->setEnabled(true);
        bCreate->setAction(aPause);
        bSearchConvert->setAction(aStop);
    } else {
        bCreate->setAction(aConvert);
        bSearchConvert->setAction(aSearchConvert);
    }
    updateStatus();
}

void TdvFrmMain::showEnding(const QString& word)
{
    // Workers end only after their current files, which may take a while: say so, and take no more orders.
    FEnding = word;
    aPause->setEnabled(false);
    aStop->setEnabled(false);
    updateStatus();
}

void TdvFrmMain::aPauseExecute()
{
    if (!FRun)
        return;
    showEnding(QStringLiteral("Pausing"));
    FRun->Pause();
    aStop->setData(0);
}

void TdvFrmMain::aStopExecute()
{
    if (!FRun)
        return;
    FStopped = true;
    showEnding(QStringLiteral("Stopping"));
    FRun->Stop();
    aStop->setData(1);
}

void TdvFrmMain::OnItemDone(void* context, TdvBatch* batch, TdvNode* item)
{
    (void)batch;
    auto* self = static_cast<TdvFrmMain*>(context);
    // Runs on the worker that handled the item, so its fields are stable here.
    // What the run adds (a source it kept, and why) stands beside the result, where the person looks.
    const QString result =
        item->Note.isEmpty() ? item->Result : QStringLiteral("%1 (%2)").arg(item->Result, item->Note);
    self->postRow(item->Index, item->State, item->Source, result, true);
}

void TdvFrmMain::OnWorkerEnded(int running)
{
    updateStatus();
    if (running == 0)
        endRun();
}

void TdvFrmMain::endRun()
{
    if (!FRun)
        return;
    // Every worker has ended; freeing the run only joins their threads.
    std::unique_ptr<TdvRun> run = std::move(FRun);
    setRunning(false);
    if (FCloseWhenEnded) {
        // A run cut short by closing the window is not counted.
        FCloseWhenEnded = false;
        run.reset();
        close();
        return;
    }
    gInfo->RunEnded(*run);
    if (gProject->Daemon() > 0)
        FRepeat->RunEnded(run->Batch());
    run.reset();
    if (aStop->data().toInt() == 1) {
        releaseBatch();
        aStop->setData(0);
    }
    CheckRunAndClose();
}

void TdvFrmMain::SaveList(const QString& fileName)
{
    QStringList lines;
    for (int i = 0; i < lViewer->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = lViewer->topLevelItem(i);
        const int state = row->data(0, kReportedRole).toBool() ? row->data(0, kStateRole).toInt() : isRunning;
        lines.append(QStringLiteral("[%1] => %2 => %3").arg(stateWord(state), row->text(1), row->text(2)));
    }
    writeTextLines(fileName, lines);
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

void TdvFrmMain::AutoConvert()
{
    if (gProject->RunAndClose())
        aConvertExecute();
}

void TdvFrmMain::CheckRunAndClose()
{
    if (!gProject->RunAndClose())
        return;
    const QString logFile = gProject->LogFile();
    // A repeat that found nothing new keeps the list of the last one that did.
    const bool emptyRepeat = gProject->Daemon() > 0 && lViewer->topLevelItemCount() == 0;
    if (!logFile.isEmpty() && !emptyRepeat) {
        try {
            SaveList(logFile);
        } catch (const std::exception& e) {
            // Nobody watches an unattended run: say it where its caller looks and end with a failure code.
            fprintf(stderr, "%s\n", errorMessage(e).toLocal8Bit().constData());
            ExitCode = 1;
            QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
            return;
        }
    }
    if (gProject->Daemon() < 1) {
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return;
    }
    // The periodic mode waits on a timer, so every cycle starts afresh from the event loop.
    if (!FStopped)
        FRepeat->Arm(gProject->Daemon());
}
