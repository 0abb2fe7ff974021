#include "gui/dvFormMainForm.h"

#include "gui/dvIcons.h"
#include "gui/dvItemList.h"
#include "gui/dvNotice.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The source and target lines: the least height of their edits and buttons (more when the desktop's font
// needs it), the least width of an edit and of a label.
constexpr int kLineHeight = 21;
constexpr int kMinEditWidth = 120;
constexpr int kMinLabelWidth = 46;
// The least widths of the two lines' columns of buttons: the narrow Folder and Files/View, the wide
// Sub folders/Start and Search/Convert. A caption that needs more gets its width and a margin.
constexpr int kNarrowColumn = 38;
constexpr int kWideColumn = 76;
constexpr int kCaptionMargin = 16;
constexpr int kColumnGap = 4; // before the wide columns
constexpr int kSpacerHeight = 2;
constexpr int kProgressWidth = 240;
// The list's columns until the person changes them; the state column only shows a picture.
constexpr int kStateColumn = 30;
constexpr int kNameColumn = 240;
constexpr int kFolderColumn = 200;
constexpr int kMinListHeight = 100;

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

// ---- the form --------------------------------------------------------------------------------------------

QAction* TdvFrmMainForm::newAction(QWidget* window, const char* name, const QString& caption,
                                   const QString& hint, int image)
{
    auto* action = new QAction(caption, window);
    action->setObjectName(QString::fromLatin1(name));
    action->setToolTip(hint.isEmpty() ? QString(caption).remove(QLatin1Char('&')) : hint);
    action->setStatusTip(hint);
    if (image >= 0 && image < imgList.size())
        action->setIcon(imgList.at(image));
    actList.append(action);
    return action;
}

void TdvFrmMainForm::buildActions(QWidget* window)
{
    const auto action = [this, window](const char* name, const QString& caption, const QString& hint,
                                       int image) { return newAction(window, name, caption, hint, image); };
    aConvert = action("aConvert", tr("&Convert"), tr("Convert the file(s) instantly"), -1);
    aStop = action("aStop", tr("Sto&p"), tr("Stop the run; the next Convert starts over"), -1);
    aOpen = action("aOpen", tr("&Open"), tr("Open a batch project"), imgOpen);
    aNew = action("aNew", tr("&New"), tr("New a batch project"), imgNew);
    aConfig = action("aConfig", tr("Config"), tr("Config the options of the batch project"), imgConfig);
    aSave = action("aSave", tr("Sa&ve"), tr("Save the batch project"), imgSave);
    aSaveAs = action("aSaveAs", tr("Save &As"), tr("Save the batch project as ..."), imgSaveAs);
    aUpdate = action("aUpdate", tr("Check &Update"), QString(), imgUpdate);
    aHelp = action("aHelp", tr("&Help"), QString(), imgHelp);
    aHomePage = action("aHomePage", tr("Home"), QString(), imgHome);
    aSupports = action("aSupports", tr("Support"), tr("Send us e-mail for support"), imgSupport);
    aAbout = action("aAbout", tr("About"), QString(), imgAbout);
    aSearch = action("aSearch", tr("Search"), tr("Search files from the source folder"), imgSearch);
    aView = action("aView", tr("V&iew"), tr("View the convert result"), -1);
    aSearchConvert = action("aSearchConvert", tr("Start"), QString(), imgConvert);
    aSearchConvert->setVisible(false);
    aPause = action("aPause", tr("Paus&e"), tr("Let the workers finish their files, then pause"), -1);
    aRetry = action("aRetry", tr("Retry &Failed"), tr("Convert the failed files again"), imgConvert);
    aCopy = action("aCopy", tr("&Copy"), tr("Copy the selected rows as lines of the list"), -1);
    aFilter = action("aFilter", tr("Filter"), tr("Show only the rows that hold a text"), -1);

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
    for (QAction* a : {aConvert, aPause, aStop, aView})
        a->setShortcut(QKeySequence::mnemonic(a->text()));
    aSearch->setShortcut(QKeySequence(Qt::Key_F5));
    aRetry->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    aFilter->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    aCopy->setShortcut(QKeySequence::Copy);
    for (QAction* a : {aConvert, aPause, aStop, aView, aSearch, aRetry, aFilter})
        window->addAction(a);
    for (QAction* a : std::as_const(actList)) {
        QStringList keys;
        if (!a->shortcut().isEmpty())
            keys.append(a->shortcut().toString(QKeySequence::NativeText));
        const QKeySequence mnemonic = QKeySequence::mnemonic(a->text());
        if (!mnemonic.isEmpty() && mnemonic != a->shortcut())
            keys.append(mnemonic.toString(QKeySequence::NativeText));
        if (!keys.isEmpty())
            a->setToolTip(a->toolTip() + QLatin1String(" (") + keys.join(QLatin1String(", ")) +
                          QLatin1Char(')'));
    }
}

void TdvFrmMainForm::buildToolBar(QWidget* window)
{
    ToolBar = new QToolBar(window);
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
    const auto separator = [this](const char* name) {
        QAction* s = ToolBar->addSeparator();
        s->setObjectName(QString::fromLatin1(name));
        return s;
    };
    tbOpen = button(aOpen, "tbOpen");
    tbNew = button(aNew, "tbNew");
    tbConfig = button(aConfig, "tbConfig");
    tbSave = button(aSave, "tbSave");
    tbSaveAs = button(aSaveAs, "tbSaveAs");
    tb1 = separator("tb1");
    tbUpdate = button(aUpdate, "tbUpdate");
    separator("tb2");
    tbHelp = button(aHelp, "tbHelp");
    tbHomePage = button(aHomePage, "tbHomePage");
    tbSupports = button(aSupports, "tbSupports");
    tbAbout = button(aAbout, "tbAbout");
}

void TdvFrmMainForm::fitToolBar()
{
    ToolBar->setMinimumWidth(0);
    ToolBar->setMinimumWidth(ToolBar->sizeHint().width());
}

void TdvFrmMainForm::buildPanels(QWidget* window)
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
        label->setFixedSize(std::max(kMinLabelWidth, label->sizeHint().width()), lineHeight);
        // Drops are the window's: it decides by the control under the mouse.
        edit->setAcceptDrops(false);
        return edit;
    };

    auto* actionPanel = new QFrame(window);
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
    cSubdir->setLayoutDirection(
        window->layoutDirection() == Qt::RightToLeft ? Qt::LeftToRight : Qt::RightToLeft); // caption first
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
                width, control->fontMetrics().horizontalAdvance(QString(caption).remove(QLatin1Char('&'))) +
                           kCaptionMargin);
        return width;
    };
    const int column1 = std::max(fit(bSource, kNarrowColumn, {bSource->text()}),
                                 fit(bTarget, kNarrowColumn, {bTarget->text()}));
    const int column2 = std::max(fit(bSourceFile, kNarrowColumn, {bSourceFile->text()}),
                                 fit(bView, kNarrowColumn, {aView->text()}));
    const int column3 = std::max({kWideColumn, cSubdir->sizeHint().width(),
                                  fit(bSearchConvert, kWideColumn, {aSearchConvert->text(), aStop->text()})});
    const int column4 =
        std::max(fit(bSearch, kWideColumn, {aSearch->text()}),
                 fit(bCreate, kWideColumn, {aConvert->text(), aPause->text(), tr("&Resume")}));
    const auto line = [&](QWidget* p, QLabel* label, QLineEdit* edit, const QList<QWidget*>& controls) {
        const int widths[] = {column1, column2, column3, column4};
        const int gaps[] = {0, 0, kColumnGap, kColumnGap};
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

    pSpacer = panel(window, "pSpacer", kSpacerHeight, QString());

    // Along each line, then on to the next line's first field.
    QWidget::setTabOrder(eSource, bSource);
    QWidget::setTabOrder(bSource, bSourceFile);
    QWidget::setTabOrder(bSourceFile, cSubdir);
    QWidget::setTabOrder(cSubdir, bSearch);
    QWidget::setTabOrder(bSearch, eTarget);
    QWidget::setTabOrder(eTarget, bTarget);
    QWidget::setTabOrder(bTarget, bView);
    QWidget::setTabOrder(bView, bSearchConvert);
    QWidget::setTabOrder(bSearchConvert, bCreate);

    // Why the last command did nothing, above the list, until the next command.
    pNotice = new TdvNoticeBar(window);
    lblNotice = pNotice->lblNotice;

    // The status line: how far the run is, how long it took and how long it may still take.
    pStatus = panel(window, "pStatus", 0, QString());
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
    pbRun->setFixedWidth(kProgressWidth);
    statusLayout->addWidget(lblCount, 1);
    statusLayout->addWidget(pbRun);
}

void TdvFrmMainForm::buildList(QWidget* window, TdvItemFilter* rows)
{
    auto* viewerPanel = new QFrame(window);
    viewerPanel->setObjectName(QStringLiteral("pViewer"));
    viewerPanel->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    pViewer = viewerPanel;

    auto* filterBar = new TdvFilterBar(rows, aFilter->shortcut().toString(QKeySequence::NativeText), pViewer);
    pFilter = filterBar;
    cbFilter = filterBar->cbFilter;
    eFilter = filterBar->eFilter;

    lViewer = new QTreeView(pViewer);
    lViewer->setObjectName(QStringLiteral("lViewer"));
    lViewer->setToolTip(tr("Drag & drop file(s) here and click \"Convert\" to convert them"));
    lViewer->setFrameShape(QFrame::NoFrame);
    lViewer->setModel(rows);
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
    lViewer->setMinimumHeight(kMinListHeight);
    Hints = new TdvCellHints(lViewer);
    lViewer->setItemDelegate(Hints);
    QHeaderView* header = lViewer->header();
    // Result takes whatever width the window gives beyond the other columns.
    header->setStretchLastSection(true);
    header->setMinimumSectionSize(kStateColumn);
    header->setSectionResizeMode(TdvItemModel::ColState, QHeaderView::Fixed);
    header->resizeSection(TdvItemModel::ColState, kStateColumn);
    header->resizeSection(TdvItemModel::ColName, kNameColumn);
    header->resizeSection(TdvItemModel::ColFolder, kFolderColumn);
    // Listing order until a column is clicked; a third click brings it back.
    header->setSortIndicatorClearable(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    lViewer->setSortingEnabled(true);
    auto* layout = new QVBoxLayout(pViewer);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);
    layout->addWidget(pFilter);
    layout->addWidget(lViewer);

    // Copy copies the list's rows, and only while the list has the focus: elsewhere it copies text.
    lViewer->addAction(aCopy);
    aCopy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    QWidget::setTabOrder(bCreate, cbFilter); // the target line's last control
    QWidget::setTabOrder(cbFilter, eFilter);
    QWidget::setTabOrder(eFilter, lViewer);
}

void TdvFrmMainForm::buildMenus(QWidget* window)
{
    pm1 = new QMenu(window);
    pm1->setObjectName(QStringLiteral("pm1"));
    const auto item = [](QMenu* menu, const char* name, const QString& caption) {
        QAction* a = menu->addAction(caption);
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };
    const auto separator = [](QMenu* menu, const char* name) {
        menu->addSeparator()->setObjectName(QString::fromLatin1(name));
    };
    BrowseFiles1 = item(pm1, "BrowseFiles1", tr("Browse Files"));
    separator(pm1, "N1");
    ViewSource1 = item(pm1, "ViewSource1", tr("View  Source"));
    OpenSource1 = item(pm1, "OpenSource1", tr("Open Source"));
    separator(pm1, "N2");
    ViewOutput1 = item(pm1, "ViewOutput1", tr("View  Output"));
    separator(pm1, "N3");
    ExportList1 = item(pm1, "ExportList1", tr("Export the List"));
    separator(pm1, "N4");
    pm1->addAction(aCopy);
    pm1->addAction(aRetry);
    ExportList1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    window->addAction(ExportList1);
    lViewer->setContextMenuPolicy(Qt::CustomContextMenu);

    pm2 = new QMenu(window);
    pm2->setObjectName(QStringLiteral("pm2"));
    tbOpen->setMenu(pm2);
    tbOpen->setPopupMode(QToolButton::MenuButtonPopup);
}
