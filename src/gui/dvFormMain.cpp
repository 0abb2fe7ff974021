#include "gui/dvFormMain.h"

#include "base/dvError.h"
#include "base/dvFileUtils.h"
#include "base/dvPlaces.h"
#include "engine/dvBatch.h"
#include "engine/dvRepeat.h"
#include "engine/dvRun.h"
#include "engine/dvRunLog.h"
#include "gui/dvDesktop.h"
#include "gui/dvFormAbout.h"
#include "gui/dvFormCfg.h"
#include "gui/dvIcons.h"
#include "gui/dvItemList.h"
#include "gui/dvNotice.h"
#include "gui/dvRunStatus.h"
#include "gui/dvSession.h"
#include "gui/dvSources.h"
#include "project/dvProject.h"
#include "shell/dvApp.h"
#include "shell/dvInfo.h"
#include "shell/dvMain.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QScreen>
#include <QStyle>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

#include <cerrno>
#include <cstdio>

TdvFrmMain* dvFrmMain = nullptr;

namespace {

constexpr int kLineHeight = 21; // edits and buttons of the source and target lines
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

// Names for a message: the first few, then how many more.
QString someNames(const QStringList& paths)
{
    QStringList names;
    for (const QString& path : paths.mid(0, 3))
        names.append(extractFileName(path).isEmpty() ? path : extractFileName(path));
    if (paths.size() > 3)
        names.append(QStringLiteral("\u2026"));
    return names.join(QLatin1String(", "));
}

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
    // The underlined letter stays on the caption, but the key is the action's: a button that shows another
    // action during a run must not leave its old key to fall through to a text field.
    setShortcut(QKeySequence());
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
    setWindowIcon(productIcon());
    FItems = new TdvItemModel(imgList, this);
    FFilter = new TdvItemFilter(this);
    FFilter->setSourceModel(FItems);
    Desktop = new TdvDesktop(this);
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
    layout->addWidget(pNotice);
    layout->addWidget(pViewer, 1);
    layout->addWidget(pStatus);

    FRepeat = new TdvRepeat([this] { guarded(this, [this] { AutoConvert(); }); }, this);
    FTick = new QTimer(this);
    FTick->setInterval(1000);
    connect(FTick, &QTimer::timeout, this, &TdvFrmMain::updateStatus);
    FTitleTimer = new QTimer(this);
    FTitleTimer->setSingleShot(true);
    connect(FTitleTimer, &QTimer::timeout, this, &TdvFrmMain::UpdateTitle);
    FListWatch = new QTimer(this);
    FListWatch->setInterval(100);
    connect(FListWatch, &QTimer::timeout, this, [this] {
        if (!FBatch) {
            FListWatch->stop();
        } else if (FBatch->IsListed()) {
            FListWatch->stop();
            if (FBatch->ItemCount() == 0)
                Notice(nothingFoundText());
        }
    });
    ShowError = [this](const QString& message) { QMessageBox::warning(this, gProject->Title, message); };
    Ask = [this](const QString& text, QMessageBox::StandardButtons buttons,
                 QMessageBox::StandardButton defaultButton) {
        return QMessageBox::question(this, gProject->Title, text, buttons, defaultButton);
    };
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
    aConvert = newAction("aConvert", tr("&Convert"), tr("Convert the file(s) instantly"), -1,
                         &TdvFrmMain::aConvertExecute);
    aStop = newAction("aStop", tr("Sto&p"), tr("Stop the run; the next Convert starts over"), -1,
                      &TdvFrmMain::aStopExecute);
    aOpen = newAction("aOpen", tr("&Open"), tr("Open a batch project"), imgOpen, &TdvFrmMain::aOpenExecute);
    aNew = newAction("aNew", tr("&New"), tr("New a batch project"), imgNew, &TdvFrmMain::aNewExecute);
    aConfig = newAction("aConfig", tr("Config"), tr("Config the options of the batch project"), imgConfig,
                        &TdvFrmMain::aConfigExecute);
    aSave = newAction("aSave", tr("Sa&ve"), tr("Save the batch project"), imgSave, &TdvFrmMain::aSaveExecute);
    aSaveAs = newAction("aSaveAs", tr("Save &As"), tr("Save the batch project as ..."), imgSaveAs,
                        &TdvFrmMain::aSaveAsExecute);
    aUpdate = newAction("aUpdate", tr("Check &Update"), QString(), imgUpdate, &TdvFrmMain::aUpdateExecute);
    aHelp = newAction("aHelp", tr("&Help"), QString(), imgHelp, &TdvFrmMain::aHelpExecute);
    aHomePage = newAction("aHomePage", tr("Home"), QString(), imgHome, &TdvFrmMain::aHomePageExecute);
    aSupports = newAction("aSupports", tr("Support"), tr("Send us e-mail for support"), imgSupport,
                          &TdvFrmMain::aSupportsExecute);
    aAbout = newAction("aAbout", tr("About"), QString(), imgAbout, &TdvFrmMain::aAboutExecute);
    aSearch = newAction("aSearch", tr("Search"), tr("Search files from the source folder"), imgSearch,
                        &TdvFrmMain::aSearchExecute);
    aView = newAction("aView", tr("V&iew"), tr("View the convert result"), -1, &TdvFrmMain::aViewExecute);
    aSearchConvert =
        newAction("aSearchConvert", tr("Start"), QString(), imgConvert, &TdvFrmMain::aSearchConvertExecute);
    aSearchConvert->setVisible(false);
    aPause = newAction("aPause", tr("Paus&e"), tr("Let the workers finish their files, then pause"), -1,
                       &TdvFrmMain::aPauseExecute);
    aRetry = newAction("aRetry", tr("Retry &Failed"), tr("Convert the failed files again"), imgConvert,
                       &TdvFrmMain::aRetryExecute);
    aCopy = newAction("aCopy", tr("&Copy"), tr("Copy the selected rows as lines of the list"), -1,
                      &TdvFrmMain::aCopyExecute);
    aFilter = newAction("aFilter", tr("Filter"), tr("Show only the rows that hold a text"), -1, nullptr);
    connect(aFilter, &QAction::triggered, this, [this] {
        eFilter->setFocus(Qt::ShortcutFocusReason);
        eFilter->selectAll();
    });
    aStop->setData(0);

    // The keys a desktop user tries first. The commands that share a button during a run carry their
    // letters as keys of their own, so that each key reaches its command whichever button shows it.
    aOpen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    aNew->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    aConfig->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    aSave->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    aSaveAs->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    aHelp->setShortcut(QKeySequence(Qt::Key_F1));
    aAbout->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F1));
    // The underlined letter of their captions, in the person's language.
    for (QAction* action : {aConvert, aPause, aStop, aView})
        action->setShortcut(QKeySequence::mnemonic(action->text()));
    aSearch->setShortcut(QKeySequence(Qt::Key_F5));
    aRetry->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    aFilter->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    aCopy->setShortcut(QKeySequence::Copy);
    for (QAction* action : {aConvert, aPause, aStop, aView, aSearch, aRetry, aFilter})
        addAction(action);
    for (QAction* action : std::as_const(actList)) {
        QStringList keys;
        if (!action->shortcut().isEmpty())
            keys.append(action->shortcut().toString(QKeySequence::NativeText));
        const QKeySequence mnemonic = QKeySequence::mnemonic(action->text());
        if (!mnemonic.isEmpty() && mnemonic != action->shortcut())
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
    ToolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    const auto button = [this](QAction* action, const char* name) {
        // A tool button shows the icon text, which drops the accelerator unless it is given explicitly.
        if (action->text().contains(QLatin1Char('&')))
            action->setIconText(action->text());
        ToolBar->addAction(action);
        auto* b = qobject_cast<QToolButton*>(ToolBar->widgetForAction(action));
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoRaise(true);
        // Reachable with Tab too, so that commands without a key of their own need no mouse.
        b->setFocusPolicy(Qt::TabFocus);
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
    // The lines follow the desktop's font: their height is what an edit needs in it.
    const int lineHeight = std::max(kLineHeight, QLineEdit().sizeHint().height());
    const auto labelledEdit = [lineHeight](QWidget* parent, const char* name, const char* labelName,
                                           const QString& caption, QLabel*& label) {
        auto* edit = new QLineEdit(parent);
        edit->setObjectName(QString::fromLatin1(name));
        edit->setFixedHeight(lineHeight);
        edit->setMinimumWidth(kMinEditWidth);
        label = new QLabel(caption, parent);
        label->setObjectName(QString::fromLatin1(labelName));
        label->setBuddy(edit);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        label->setFixedSize(std::max(46, label->sizeHint().width()), lineHeight);
        // Drops are the window's: it decides by the control under the mouse.
        edit->setAcceptDrops(false);
        return edit;
    };

    auto* actionPanel = new QFrame(this);
    actionPanel->setObjectName(QStringLiteral("pAction"));
    actionPanel->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    pAction = actionPanel;

    pSource = panel(pAction, "pSource", 0, tr("Choose or drag & drop source folder or file(s)"));
    eSource = labelledEdit(pSource, "eSource", "lblSource", tr("&Source"), lblSource);
    bSource = pushButton(pSource, "bSource", tr("Folder"),
                         tr("Choose a folder and click \"Search\" to list files"));
    bSourceFile = pushButton(pSource, "bSourceFile", tr("Files"),
                             tr("Choose file(s) and click \"Convert\" to convert them"));
    cSubdir = new QCheckBox(tr("Su&b folders"), pSource);
    cSubdir->setObjectName(QStringLiteral("cSubdir"));
    cSubdir->setLayoutDirection(layoutDirection() == Qt::RightToLeft ? Qt::LeftToRight
                                                                     : Qt::RightToLeft); // caption first
    bSearch = actionButton(pSource, "bSearch", aSearch);

    pTarget = panel(pAction, "pTarget", 0, tr("Choose or drag & drop target folder"));
    eTarget = labelledEdit(pTarget, "eTarget", "lblTarget", tr("&Target"), lblTarget);
    bTarget = pushButton(pTarget, "bTarget", tr("Folder"),
                         tr("Choose a target folder to save the converted file(s)"));
    bView = actionButton(pTarget, "bView", aView);
    bSearchConvert = actionButton(pTarget, "bSearchConvert", aSearchConvert);
    // Start is hidden until it turns into Stop; Convert below Search keeps its place meanwhile.
    QSizePolicy keepPlace = bSearchConvert->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    bSearchConvert->setSizePolicy(keepPlace);
    bCreate = actionButton(pTarget, "bCreate", aConvert);

    // The two lines share their columns: the edits take what the window gives, the controls keep the grid's
    // widths, or what their captions need in the desktop's font.
    const auto fit = [](QWidget* control, int width, const QStringList& captions) {
        for (const QString& caption : captions)
            width = std::max(
                width,
                control->fontMetrics().horizontalAdvance(QString(caption).remove(QLatin1Char('&'))) + 16);
        return width;
    };
    const int column1 = std::max(fit(bSource, 38, {bSource->text()}), fit(bTarget, 38, {bTarget->text()}));
    const int column2 =
        std::max(fit(bSourceFile, 38, {bSourceFile->text()}), fit(bView, 38, {aView->text()}));
    const int column3 = std::max(
        {76, cSubdir->sizeHint().width(), fit(bSearchConvert, 76, {aSearchConvert->text(), aStop->text()})});
    const int column4 = std::max(fit(bSearch, 76, {aSearch->text()}),
                                 fit(bCreate, 76, {aConvert->text(), aPause->text(), tr("&Resume")}));
    const auto line = [&](QWidget* p, QLabel* label, QLineEdit* edit, const QList<QWidget*>& controls) {
        const int widths[] = {column1, column2, column3, column4};
        const int gaps[] = {0, 0, 4, 4};
        auto* row = new QHBoxLayout(p);
        row->setContentsMargins(0, 5, 6, 4);
        row->setSpacing(0);
        row->addWidget(label);
        row->addSpacing(4);
        row->addWidget(edit, 1);
        for (int i = 0; i < controls.size(); ++i) {
            row->addSpacing(gaps[i]);
            controls[i]->setFixedSize(widths[i], std::max(lineHeight, controls[i]->sizeHint().height()));
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
    // The unsaved mark follows the edits, once the project has finished setting them: collecting the
    // controls in the middle of that would write their old values back.
    for (QLineEdit* edit : {eSource, eTarget}) {
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::textChanged, this, [this] { FTitleTimer->start(0); });
    }
    connect(cSubdir, &QCheckBox::toggled, this, [this] { FTitleTimer->start(0); });

    // Why the last command did nothing, above the list, until the next command.
    pNotice = new TdvNoticeBar(this);
    lblNotice = pNotice->lblNotice;

    // The status line: how far the run is, how long it took and how long it may still take.
    pStatus = panel(this, "pStatus", 0, QString());
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

    auto* filterBar =
        new TdvFilterBar(FFilter, aFilter->shortcut().toString(QKeySequence::NativeText), pViewer);
    pFilter = filterBar;
    cbFilter = filterBar->cbFilter;
    eFilter = filterBar->eFilter;
    eFilter->installEventFilter(this);

    lViewer = new QTreeView(pViewer);
    lViewer->setObjectName(QStringLiteral("lViewer"));
    lViewer->setToolTip(tr("Drag & drop file(s) here and click \"Convert\" to convert them"));
    lViewer->setFrameShape(QFrame::NoFrame);
    lViewer->setModel(FFilter);
    lViewer->setRootIsDecorated(false);
    lViewer->setUniformRowHeights(true);
    lViewer->setAllColumnsShowFocus(true);
    lViewer->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lViewer->setSelectionBehavior(QAbstractItemView::SelectRows);
    lViewer->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Rows of a deep tree differ at both ends of their paths: cut in the middle.
    lViewer->setTextElideMode(Qt::ElideMiddle);
    lViewer->setAcceptDrops(false);
    lViewer->viewport()->setAcceptDrops(false);
    lViewer->setMinimumHeight(100);
    FHints = new TdvCellHints(lViewer);
    lViewer->setItemDelegate(FHints);
    QHeaderView* header = lViewer->header();
    // Result takes whatever width the window gives beyond the other columns.
    header->setStretchLastSection(true);
    header->setMinimumSectionSize(30);
    header->setSectionResizeMode(TdvItemModel::ColState, QHeaderView::Fixed);
    header->resizeSection(TdvItemModel::ColState, 30);
    header->resizeSection(TdvItemModel::ColName, 240);
    header->resizeSection(TdvItemModel::ColFolder, 200);
    // Listing order until a column is clicked; a third click brings it back.
    header->setSortIndicatorClearable(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    lViewer->setSortingEnabled(true);
    auto* layout = new QVBoxLayout(pViewer);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);
    layout->addWidget(pFilter);
    layout->addWidget(lViewer);

    lViewer->addAction(aCopy);
    aCopy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(lViewer, &QTreeView::doubleClicked, this, [this](const QModelIndex& index) {
        guarded(this, [this, index] { OpenRow(FFilter->mapToSource(index).row()); });
    });
    lViewer->installEventFilter(this);
    setTabOrder(bView, cbFilter);
    setTabOrder(cbFilter, eFilter);
    setTabOrder(eFilter, lViewer);
}

void TdvFrmMain::createMenus()
{
    pm1 = new QMenu(this);
    pm1->setObjectName(QStringLiteral("pm1"));
    const auto item = [](QMenu* menu, const char* name, const QString& caption) {
        QAction* a = menu->addAction(caption);
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };
    const auto separator = [](QMenu* menu, const char* name) {
        QAction* a = menu->addSeparator();
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };
    BrowseFiles1 = item(pm1, "BrowseFiles1", tr("Browse Files"));
    N1 = separator(pm1, "N1");
    ViewSource1 = item(pm1, "ViewSource1", tr("View  Source"));
    OpenSource1 = item(pm1, "OpenSource1", tr("Open Source"));
    N2 = separator(pm1, "N2");
    ViewOutput1 = item(pm1, "ViewOutput1", tr("View  Output"));
    N3 = separator(pm1, "N3");
    ExportList1 = item(pm1, "ExportList1", tr("Export the List"));
    N4 = separator(pm1, "N4");
    pm1->addAction(aCopy);
    pm1->addAction(aRetry);
    ExportList1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    addAction(ExportList1);
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
    connect(lViewer, &QWidget::customContextMenuRequested, this, &TdvFrmMain::showListMenu);

    pm2 = new QMenu(this);
    pm2->setObjectName(QStringLiteral("pm2"));
    connect(pm2, &QMenu::aboutToShow, this, [this] { guarded(this, [this] { pm2Popup(); }); });
    tbOpen->setMenu(pm2);
    tbOpen->setPopupMode(QToolButton::MenuButtonPopup);
}

void TdvFrmMain::showListMenu(const QPoint& pos)
{
    // The window system may follow a menu key with a context-menu request of its own: one menu is enough.
    if (!pm1->isVisible())
        pm1->popup(lViewer->viewport()->mapToGlobal(pos));
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
    RestoreSession();
    ListStartupSources();
    UpdateTitle();
    updateStatus();
}

void TdvFrmMain::ListStartupSources()
{
    // A desktop hands every file it was asked to open to one program: beyond the first, the paths given are
    // listed as if dropped on the list.
    QStringList paths;
    if (gApp && (gApp->Params.size() > 1 || gApp->ConvertOnStart))
        for (const QString& param : std::as_const(gApp->Params))
            if (!param.startsWith(QLatin1Char('-')))
                paths.append(absolutePath(param));
    if (!paths.isEmpty())
        takeDrop(lViewer, paths);
}

void TdvFrmMain::setFirstSize()
{
    // The described size, but never more than the screen holds: at 150 % a 1200-pixel window would put
    // Convert beyond the screen's edge.
    QSize size(1200, 600);
    if (const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen()) {
        const QSize room = s->availableGeometry().size() * 9 / 10;
        // A narrow screen gets the tool bar's pictures alone (their names are in their hints), so that the
        // whole window fits on it.
        if (minimumSizeHint().width() > room.width()) {
            ToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
            fitToolBar();
            layout()->activate();
        }
        size = size.boundedTo(room).expandedTo(minimumSizeHint());
    }
    resize(size);
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

bool TdvFrmMain::closeAsked()
{
    if (FRun && Ask &&
        Ask(tr("A conversion is running. Stop it and quit?"), QMessageBox::Yes | QMessageBox::No,
            QMessageBox::No) != QMessageBox::Yes)
        return false;
    // Nobody watches an unattended run: its window closes without a question.
    const bool unattended = gProject->RunAndClose();
    const bool named = !gProject->ProjectFile.isEmpty() && QFileInfo::exists(gProject->ProjectFile);
    if (!unattended && named && IsModified() && Ask) {
        const QMessageBox::StandardButton answer =
            Ask(tr("The project %1 has changes that are not saved. Save them before closing?")
                    .arg(QFileInfo(gProject->ProjectFile).fileName()),
                QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
        if (answer == QMessageBox::Cancel)
            return false;
        if (answer == QMessageBox::Save) {
            guarded(this, [this] { aSaveExecute(); });
            if (IsModified())
                return false; // the save failed and said why: the window stays
        } else {
            // Thrown away: the next start shows the project as its file holds it.
            gProject->SetOptionLines(FSavedOptions);
            gProject->ApplyOptions();
        }
    }
    return true;
}

void TdvFrmMain::closeEvent(QCloseEvent* event)
{
    if (!FCloseConfirmed) {
        bool asked = false;
        guarded(this, [&] { asked = closeAsked(); });
        if (!asked) {
            event->ignore();
            return;
        }
        FCloseConfirmed = true;
    }
    FRepeat->Disarm();
    if (FRun) {
        // Stopped at once: the files in hand end as not done and their offices are ended. The window goes
        // now; the workers let go of the batch within moments, and the program waits for them on its way out.
        FCloseWhenEnded = true;
        FStopped = true;
        FRun->Abort();
    }
    guarded(this, [this] { SaveSession(); });
    FCloseConfirmed = false;
    event->accept();
}

void TdvFrmMain::FormDestroy()
{
    FRepeat->Disarm();
    FTick->stop();
    FListWatch->stop();
    // Freed here, the run stops and waits for its workers; their events for this window are dropped.
    if (FRun)
        FRun->Abort();
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
    const QString file = gProject->ProjectFile;
    // The default project that was never written is no file of the person's: the project is untitled.
    const bool untitled = file.isEmpty() || (file == gProject->DefaultProject() && !QFileInfo::exists(file));
    const QString name = untitled ? tr("Untitled") : QFileInfo(file).fileName();
    setWindowTitle(name + QStringLiteral("[*] \u2013 ") + gProject->Title);
    setWindowModified(IsModified());
}

namespace {
// The option lines as collecting the controls would make them, the project's own left as they are: a line
// that collecting adds early would change the order of the lines a later Save writes.
QStringList collectedLines()
{
    const QStringList before = gProject->OptionLines();
    gProject->CollectOptions();
    QStringList lines = gProject->OptionLines();
    gProject->SetOptionLines(before);
    return lines;
}
} // namespace

bool TdvFrmMain::IsModified()
{
    return collectedLines() != FSavedOptions;
}

void TdvFrmMain::MarkSaved()
{
    FSavedOptions = collectedLines();
    UpdateTitle();
}

void TdvFrmMain::SaveSession()
{
    // An unattended run must not become the next start's project.
    if (gProject->RunAndClose())
        return;
    TdvSession session;
    session.ProjectFile = gProject->ProjectFile;
    session.Options = collectedLines();
    session.SavedOptions = FSavedOptions;
    session.Geometry = saveGeometry();
    session.ListColumns = lViewer->header()->saveState();
    const QString problem = session.Save();
    if (!problem.isEmpty() && ShowError)
        ShowError(tr("The window's state is not kept for the next start: %1").arg(problem));
}

void TdvFrmMain::RestoreSession()
{
    const TdvSession session = TdvSession::Load();
    if (session.Geometry.isEmpty() || !restoreGeometry(session.Geometry))
        setFirstSize();
    else
        KeepPlace();
    if (!session.ListColumns.isEmpty())
        lViewer->header()->restoreState(session.ListColumns);
    // What was on screen comes back when the program starts without being told what to open.
    const bool plainStart = !gApp || gApp->FirstParam.isEmpty();
    if (!plainStart || !session.Found) {
        MarkSaved();
        return;
    }
    if (gProject->IsProjectFile(session.ProjectFile) && QFileInfo::exists(session.ProjectFile)) {
        // Read first, so that a later Save keeps the file's encoding.
        gProject->ProjectFile = session.ProjectFile;
        gProject->OpenProject(false);
    } else {
        gProject->ProjectFile = session.ProjectFile;
    }
    gProject->SetOptionLines(session.Options);
    gProject->ApplyOptions();
    FSavedOptions = session.SavedOptions;
}

void TdvFrmMain::Notice(const QString& text)
{
    pNotice->SetText(text);
    if (!text.isEmpty() && gProject->RunAndClose())
        printError(text); // nobody watches an unattended run
}

QString TdvFrmMain::NoticeText() const
{
    return pNotice->Text();
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
    return FHints->Hint(FFilter->mapFromSource(FItems->index(row, column)));
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
    FBatch->FSourceFolder = folder;
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
    MarkSaved();
}

// ---- project and information commands --------------------------------------------------------------------

void TdvFrmMain::aOpenExecute()
{
    const QString before = gProject->ProjectFile;
    const QStringList lines = gProject->OptionLines();
    gProject->OpenProject(true);
    if (gProject->ProjectFile != before || gProject->OptionLines() != lines)
        MarkSaved();
    UpdateTitle();
}

void TdvFrmMain::aNewExecute()
{
    gProject->NewProject();
    MarkSaved();
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
    const QString file = gProject->ProjectFile;
    // The default project that was never written is untitled: it is saved where the person says.
    if (file.isEmpty() || (file == gProject->DefaultProject() && !QFileInfo::exists(file)))
        gProject->SaveAs();
    else
        gProject->Save();
    if (!gProject->ProjectFile.isEmpty() && QFileInfo::exists(gProject->ProjectFile))
        MarkSaved();
    UpdateTitle();
}

void TdvFrmMain::aSaveAsExecute()
{
    const QString before = gProject->ProjectFile;
    gProject->SaveAs();
    if (gProject->ProjectFile != before || QFileInfo::exists(gProject->ProjectFile))
        MarkSaved();
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
    const QString help = gInfo->HelpFile();
    if (!QFileInfo::exists(help)) {
        if (ShowError)
            ShowError(tr("The help is not installed: %1 is missing.").arg(help));
        return;
    }
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

// ---- keys and drops --------------------------------------------------------------------------------------

bool TdvFrmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        // An Alt key that no command took is never typed into a field: Alt+C while Convert cannot run must
        // not replace the source with "c".
        if ((watched == eSource || watched == eTarget || watched == eFilter) &&
            (key->modifiers() & Qt::AltModifier) && !(key->modifiers() & Qt::ControlModifier) &&
            !key->text().isEmpty())
            return true;
        // The menu key and Shift+F10 open the list's menu at the current row, whatever the platform makes
        // of them.
        if (watched == lViewer && (key->key() == Qt::Key_Menu ||
                                   (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier))) {
            const QRect row = lViewer->visualRect(lViewer->currentIndex());
            showListMenu(row.isValid() ? row.bottomLeft() : QPoint());
            return true;
        }
        // Enter on a row does what a double-click does.
        if (watched == lViewer && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            lViewer->currentIndex().isValid()) {
            guarded(this, [this] { OpenRow(FFilter->mapToSource(lViewer->currentIndex()).row()); });
            return true;
        }
    }
    if (event->type() == QEvent::MouseButtonDblClick && !FRun) {
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
    for (QWidget* w = childAt(pos); w && w != this; w = w->parentWidget())
        if (w == eSource || w == eTarget || w == lViewer || w == pFilter)
            return takeDrop(w == pFilter ? lViewer : w, paths);
    return false;
}

bool TdvFrmMain::takeDrop(QWidget* target, const QStringList& paths)
{
    Notice(QString());
    if (paths.size() == 1 && gProject->IsProjectFile(paths.first())) {
        gProject->ProjectFile = paths.first();
        gProject->OpenProject(false);
        MarkSaved();
        return true;
    }
    if (FRun) {
        // Its workers still draw from the list, and the fields are the run's.
        Notice(tr("A conversion is running: drop the files again once it has ended."));
        return false;
    }
    if (target == eTarget) {
        // A file stands for its folder.
        const QString folder =
            QFileInfo(paths.first()).isDir() ? paths.first() : extractFilePath(paths.first());
        eTarget->setText(folder);
        if (paths.size() > 1)
            Notice(tr("There is one target folder: %1 was taken, the other paths were not.").arg(folder));
        return true;
    }
    const TdvSources sources = sortSources(paths);
    // One folder is searched as the source, with the product's pattern, as the Folder button sets it.
    if (sources.Folders.size() == 1 && sources.Files.isEmpty() && sources.Refused.isEmpty()) {
        SetSourceFolder(sources.Folders.first());
        if (target == lViewer)
            aSearchExecute();
        return true;
    }
    if (target == eSource && paths.size() == 1 && sources.Files.size() == 1) {
        eSource->setText(sources.Files.first());
        FillTarget(extractFilePath(sources.Files.first()));
        return true;
    }
    // Several paths: the presentations among them, and those in the folders, become the list.
    QStringList files = sources.Files;
    for (const QString& folder : sources.Folders)
        files +=
            presentationsIn(folder, gProject->SourcePattern, cSubdir->isChecked(), gProject->SkipHidden());
    QString refused;
    if (sources.Refused.size() == 1)
        refused = tr("%1 is no presentation; it was not listed.").arg(someNames(sources.Refused));
    else if (!sources.Refused.isEmpty())
        refused = tr("%1 files are no presentations and were not listed: %2")
                      .arg(sources.Refused.size())
                      .arg(someNames(sources.Refused));
    if (files.isEmpty()) {
        Notice(refused.isEmpty() ? tr("No presentations found in what was dropped.") : refused);
        return !sources.Folders.isEmpty();
    }
    NewBatch();
    for (const QString& path : std::as_const(files))
        AddSource(path);
    Notice(refused);
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
    FBatch->Observer = nullptr;
    FBatch.reset();
}

void TdvFrmMain::NewBatch()
{
    if (FRun)
        return;
    try {
        releaseBatch();
    } catch (...) {
        // A batch that failed to free is left behind rather than freed twice.
        FBatch.release(); // NOLINT(bugprone-unused-return-value)
    }
    ++FBatchSerial;
    FBatch = std::make_unique<TdvBatch>();
    FBatch->SetSearchRules(gProject->RegExt(), gProject->SkipHidden());
    FBatchFed = false;
    FRunEnd = TdvRunStatus::End::None;
    setResume(false);
    FItems->Clear();
    FItems->SetSourceFolder(QString());
    FDoneCount = 0;
    FFailedCount = 0;
    FStandInCount = 0;
    FBatch->Observer = this;
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

void TdvFrmMain::ItemListed(const TdvItemEvent& item)
{
    // Only the index and the source: the state and result may be a worker's already.
    postRow(RowChange::Listed, item.Index, 0, false, item.Source, QString());
}

void TdvFrmMain::ItemStarted(const TdvItemEvent& item)
{
    postRow(RowChange::Started, item.Index, 0, false, QString(), QString());
}

void TdvFrmMain::postRow(RowChange change, int index, int state, bool skipped, const QString& source,
                         const QString& result)
{
    const quint64 serial = FBatchSerial.load();
    if (QThread::currentThread() == thread()) {
        applyRow(serial, change, index, state, skipped, source, result);
        return;
    }
    QMetaObject::invokeMethod(
        this,
        [this, serial, change, index, state, skipped, source, result] {
            applyRow(serial, change, index, state, skipped, source, result);
        },
        Qt::QueuedConnection);
}

void TdvFrmMain::applyRow(quint64 serial, RowChange change, int index, int state, bool skipped,
                          const QString& source, const QString& result)
{
    if (serial != FBatchSerial.load() || index < 0)
        return;
    switch (change) {
    case RowChange::Listed:
        FItems->Listed(index, source);
        break;
    case RowChange::Started:
        FItems->Started(index);
        break;
    case RowChange::Reported:
        FItems->Reported(index, state, skipped, source, result);
        break;
    }
    FDoneCount = FItems->Done();
    FFailedCount = FItems->Failed();
    updateStatus();
}

int TdvFrmMain::ShowItem(const QString& path, TdvBatch* batch, TdvNode* item)
{
    if (!item) {
        AddSource(path);
        return -1;
    }
    (void)batch;
    FItems->Listed(item->Index, path);
    return item->Index;
}

void TdvFrmMain::updateStatus()
{
    TdvRunStatus status;
    status.Total = FItems->rowCount();
    status.Done = FItems->Done();
    status.Failed = FItems->Failed();
    status.NotDone = FItems->Count(TdvRowState::NotDone);
    status.Running = FRun != nullptr;
    status.Listed = FBatch && FBatch->IsListed();
    status.Ending = FEnding;
    status.Finishing = RunningWorkers();
    status.ElapsedMs = FRun && FClock.isValid() ? FClock.elapsed() : FLastElapsed;
    status.LastEnd = FRunEnd;
    status.StandIns = FStandInCount;
    lblCount->setText(status.Text());
    pbRun->setRange(0, std::max(status.Total, 1));
    pbRun->setValue(std::min(status.Done, std::max(status.Total, 1)));
    Desktop->SetProgress(status.Total > 0 ? double(status.Done) / status.Total : 0, status.Running);
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

QString TdvFrmMain::sourceProblem(QWidget** field)
{
    *field = eSource;
    if (eSource->text().trimmed().isEmpty())
        return tr("Choose what to convert: the Source field is empty.");
    *field = eTarget;
    if (eTarget->text().trimmed().isEmpty())
        return tr("Choose where the PDF files go: the Target field is empty.");
    *field = eSource;
    QString source;
    try {
        source = TdvBatch::NormalizePath(absolutePath(eSource->text().trimmed()));
    } catch (const std::exception& e) {
        return errorMessage(e);
    }
    if (isDirectory(source))
        return QString(); // a folder stands for the presentations in it
    const QString name = extractFileName(source);
    const bool pattern = name.contains(QLatin1Char('*')) || name.contains(QLatin1Char('?'));
    const QString folder = extractFilePath(source);
    if (!isDirectory(folder.isEmpty() ? QStringLiteral("/") : folder))
        return tr("The source folder %1 does not exist.").arg(folder);
    if (!pattern && !fileExists(source))
        return tr("The source %1 does not exist.").arg(source);
    return QString();
}

QString TdvFrmMain::nothingFoundText() const
{
    const QString folder = FBatch ? FBatch->FSourceFolder : FItems->SourceFolder();
    const QString mask = FBatch ? FBatch->FMask : gProject->SourcePattern;
    return FBatch && FBatch->FSubdirs
               ? tr("No presentations found in %1 or its sub-folders (pattern %2).").arg(folder, mask)
               : tr("No presentations found in %1 (pattern %2).").arg(folder, mask);
}

void TdvFrmMain::aSearchExecute()
{
    if (FRun)
        return;
    Notice(QString());
    if (eSource->text().trimmed().isEmpty()) {
        Notice(tr("Choose what to convert: the Source field is empty."));
        eSource->setFocus();
        CheckRunAndClose();
        return;
    }
    QString source = absolutePath(eSource->text().trimmed());
    if (isWebAddress(source)) {
        NewBatch();
        AddSource(source);
        return;
    }
    QWidget* field = nullptr;
    const QString problem = sourceProblem(&field);
    if (!problem.isEmpty()) {
        Notice(problem);
        field->setFocus();
        CheckRunAndClose();
        return;
    }
    // A folder typed without a pattern stands for the presentations in it.
    if (isDirectory(TdvBatch::NormalizePath(source))) {
        if (!source.endsWith(QLatin1Char('/')))
            source += QLatin1Char('/');
        source += gProject->SourcePattern;
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
    FItems->SetSourceFolder(FBatch->FSourceFolder);
    FBatchFed = true;
    FListWatch->start();
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
    Notice(QString());
    const auto targetMissing = [this] {
        Notice(tr("Choose where the PDF files go: the Target field is empty."));
        eTarget->setFocus();
        CheckRunAndClose();
    };
    // With nothing at all, what to convert comes first.
    if (eSource->text().trimmed().isEmpty() && eTarget->text().trimmed().isEmpty() &&
        (!FBatch || !FBatchFed)) {
        aSearchExecute();
        return;
    }
    if (eTarget->text().trimmed().isEmpty()) {
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
    // The folder is made by the first file converted into it: a run that converts nothing makes nothing.
    QString target = reduced;
    if (!target.endsWith(QLatin1Char('/'))) {
        target += QLatin1Char('/');
        eTarget->setText(target);
    }
    gProject->StoreOptions(false);

    // A list that is spent or found nothing is listed afresh, so an edited source is picked up at once.
    if (!FBatch || !FBatchFed || FBatch->IsExhausted() || (FBatch->IsListed() && FBatch->ItemCount() == 0))
        aSearchExecute();
    // No source: Search has said why and run the unattended step. An exhausted batch is not run again: its
    // workers would find nothing and its tallies would be counted twice.
    if (!FBatch || !FBatchFed || FBatch->IsExhausted())
        return;

    tellOptionProblems();
    if (!logFileUsable())
        return;
    try {
        FRun = std::make_unique<TdvRun>(gProject->RunOptions(), FBatch.get(), target, this);
        FRun->SetUsage(gInfo);
    } catch (const TdvError& e) {
        // An option the run cannot start with (a malformed OfficeServers entry) is the user's to mend.
        if (ShowError)
            ShowError(errorMessage(e));
        return;
    }
    FCloseWhenEnded = false;
    FRun->SetOnWorkerEnded(this, [this](int running) { guarded(this, [&] { OnWorkerEnded(running); }); });
    FItems->MarkUnfinished(TdvRowState::Waiting);
    FClock.start();
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
    aRetry->setEnabled(!running);
    bSourceFile->setEnabled(!running);
    BrowseFiles1->setEnabled(!running);
    // The fields are the run's while it goes on: nothing typed can change what it converts.
    eSource->setReadOnly(running);
    eTarget->setReadOnly(running);
    cSubdir->setEnabled(!running);
    bSource->setEnabled(!running);
    bTarget->setEnabled(!running);
    if (running) {
        FRunEnd = TdvRunStatus::End::None;
        setResume(false);
        aStop->setEnabled(true);
        aPause->setEnabled(true);
        bCreate->setAction(aPause);
        bSearchConvert->setAction(aStop);
        FTick->start();
    } else {
        bCreate->setAction(aConvert);
        bSearchConvert->setAction(aSearchConvert);
        FTick->stop();
    }
    updateStatus();
}

void TdvFrmMain::setResume(bool resume)
{
    // After a pause the button says what Convert does then; Resume answers its own letter and Convert's,
    // which the person may have learnt.
    const QString convert = tr("&Convert");
    aConvert->setText(resume ? tr("&Resume") : convert);
    QList<QKeySequence> keys = {QKeySequence::mnemonic(convert)};
    if (resume)
        keys.append(QKeySequence::mnemonic(aConvert->text()));
    aConvert->setShortcuts(keys);
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
    showEnding(tr("Pausing"));
    FPausing = true;
    FRun->Pause();
    aStop->setData(0);
}

void TdvFrmMain::aStopExecute()
{
    if (!FRun)
        return;
    FStopped = true;
    FPausing = false;
    showEnding(tr("Stopping"));
    FRun->Stop();
    aStop->setData(1);
}

void TdvFrmMain::ItemDone(const TdvItemEvent& item)
{
    // What the run adds (a source it kept, and why) stands beside the result, where the person looks.
    const QString result =
        item.Note.isEmpty() ? item.Result : QStringLiteral("%1 (%2)").arg(item.Result, item.Note);
    postRow(RowChange::Reported, item.Index, item.State, item.Skipped, item.Source, result);
    if (item.State == isDone && item.StandInFonts) {
        const quint64 serial = FBatchSerial.load();
        QMetaObject::invokeMethod(
            this,
            [this, serial] {
                if (serial != FBatchSerial.load())
                    return;
                ++FStandInCount;
                updateStatus();
            },
            Qt::QueuedConnection);
    }
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
    FLastElapsed = FClock.isValid() ? FClock.elapsed() : 0;
    const bool paused = FPausing;
    FPausing = false;
    setRunning(false);
    if (FCloseWhenEnded) {
        // A run cut short by closing the window is not counted; the window has gone already.
        FCloseWhenEnded = false;
        return;
    }
    gInfo->RunEnded(*run);
    const TdvTallies tallies = run->Tallies();
    const bool exhausted = run->Batch()->IsExhausted();
    if (gProject->Daemon() > 0)
        FRepeat->RunEnded(run->Batch());
    run.reset();
    if (aStop->data().toInt() == 1) {
        // The files the run did not reach are not done; the next Convert lists afresh.
        FItems->MarkUnfinished(TdvRowState::NotDone);
        FRunEnd = TdvRunStatus::End::Stopped;
        releaseBatch();
        aStop->setData(0);
    } else if (paused && !exhausted) {
        FRunEnd = TdvRunStatus::End::Paused;
        setResume(true);
    } else {
        FRunEnd = TdvRunStatus::End::Finished;
    }
    if (tallies.Listed == 0 && FRunEnd == TdvRunStatus::End::Finished)
        Notice(nothingFoundText());
    updateStatus();
    // Someone who looks elsewhere learns that the run is over.
    if (!isActiveWindow() && isVisible())
        Desktop->Notify(tallies.Failed > 0 ? tr("Conversion ended with failures") : tr("Conversion finished"),
                        tallies.Summary());
    CheckRunAndClose();
}

void TdvFrmMain::SaveList(const QString& fileName)
{
    QStringList lines;
    for (int row = 0; row < FItems->rowCount(); ++row)
        lines.append(FItems->ResultLine(row));
    writeRunFile(fileName, lines, FBatch.get(), gProject->TargetExt);
}

void TdvFrmMain::tellOptionProblems()
{
    const QStringList problems = gProject->OptionProblems();
    // Said once, not at every run of a periodic or repeated start, and again once they change.
    if (problems == FToldOptionProblems)
        return;
    FToldOptionProblems = problems;
    if (problems.isEmpty())
        return;
    const QString text = problems.join(QLatin1Char('\n'));
    if (gProject->RunAndClose())
        fprintf(stderr, "%s\n", text.toLocal8Bit().constData()); // nobody may be there to close a box
    else if (ShowError)
        ShowError(text);
}

bool TdvFrmMain::logFileUsable()
{
    const QString logFile = gProject->LogFile();
    if (!gProject->RunAndClose() || logFile.isEmpty())
        return true;
    QString reason = runFileRefusal(logFile, FBatch.get(), gProject->TargetExt);
    const QString folder = extractFilePath(logFile);
    if (reason.isEmpty() && !folder.isEmpty() && !makeFolder(folder, &reason) && reason.isEmpty())
        reason = systemMessage(ENOTDIR);
    if (reason.isEmpty() && !folder.isEmpty())
        reason = writeProblem(folder);
    if (reason.isEmpty())
        return true;
    // Found before any file is converted, as the console finds it: the run does not start.
    const QString message =
        QStringLiteral("The list cannot be written to %1: %2").arg(escapeControls(logFile), reason);
    fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    if (!gProject->PureConsole() && ShowError)
        ShowError(message);
    ExitCode = 1;
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    return false;
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
    // --convert starts once, with the files it was given; the window then stays with their outcome.
    const bool convertNow = !FShownConverted && gApp && gApp->ConvertOnStart;
    FShownConverted = true;
    if (gProject->RunAndClose() || convertNow)
        aConvertExecute();
}

void TdvFrmMain::CheckRunAndClose()
{
    if (!gProject->RunAndClose())
        return;
    const QString logFile = gProject->LogFile();
    // A repeat that found nothing new keeps the list of the last one that did.
    const bool emptyRepeat = gProject->Daemon() > 0 && FItems->rowCount() == 0;
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
