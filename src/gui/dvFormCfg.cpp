#include "gui/dvFormCfg.h"

#include "base/dvFileUtils.h"
#include "project/dvOptions.h"
#include "project/dvProject.h"
#include "shell/dvInfo.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include <limits>

namespace {

int lineOf(const QStringList& lines, const QString& name)
{
    for (int i = 0; i < lines.size(); ++i) {
        const int eq = lines.at(i).indexOf(QLatin1Char('='));
        if (eq >= 0 && lines.at(i).left(eq).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

// What a person needs to know to write a value: its kind and the default.
QString kindText(const TdvOptionInfo& info)
{
    QString kind;
    switch (info.Kind) {
    case TdvOptionKind::Bool:
        kind = TdvFrmCfg::tr("True or False");
        break;
    case TdvOptionKind::Int:
        kind = info.Max == std::numeric_limits<int>::max()
                   ? TdvFrmCfg::tr("a number from %1").arg(info.Min)
                   : TdvFrmCfg::tr("a number from %1 to %2").arg(info.Min).arg(info.Max);
        break;
    case TdvOptionKind::Text:
        kind = TdvFrmCfg::tr("text");
        break;
    case TdvOptionKind::Path:
        kind = TdvFrmCfg::tr("a path");
        break;
    case TdvOptionKind::Choice:
        kind = TdvFrmCfg::tr("one of %1").arg(info.choices().join(QLatin1String(", ")));
        break;
    }
    const QString def = info.defaultValue().isEmpty() ? TdvFrmCfg::tr("empty") : info.defaultValue();
    return TdvFrmCfg::tr("%1; default %2").arg(kind, def);
}

} // namespace

void setOptionLine(QStringList& lines, const QString& name, const QString& value)
{
    const int at = lineOf(lines, name);
    if (value.isEmpty()) {
        if (at >= 0)
            lines.removeAt(at);
        return;
    }
    const QString line = name + QLatin1Char('=') + value;
    if (at >= 0)
        lines[at] = line;
    else
        lines.append(line);
}

QString optionLineValue(const QStringList& lines, const QString& name)
{
    const int at = lineOf(lines, name);
    return at < 0 ? QString() : lines.at(at).mid(lines.at(at).indexOf(QLatin1Char('=')) + 1);
}

TdvFrmCfg::TdvFrmCfg(QWidget* parent) : TdvFrmBase(parent, Qt::Dialog)
{
    setObjectName(QStringLiteral("dvFrmCfg"));
    setWindowTitle(tr("Config"));

    tabCfg = new QTabWidget(this);
    tabCfg->setObjectName(QStringLiteral("tabCfg"));
    // One page per group, each option with its editor, kind, default and meaning.
    const QList<TdvOptionGroup> groups = {TdvOptionGroup::Source, TdvOptionGroup::Target,
                                          TdvOptionGroup::Conversion, TdvOptionGroup::Offices,
                                          TdvOptionGroup::Unattended};
    for (const TdvOptionGroup group : groups) {
        auto* page = new QWidget;
        auto* grid = new QGridLayout(page);
        grid->setColumnStretch(1, 1);
        int row = 0;
        for (const TdvOptionInfo& info : dvOptionInfos()) {
            if (info.Group != group)
                continue;
            QWidget* editor = createEditor(info, page);
            auto* label = new QLabel(info.name(), page);
            label->setBuddy(editor);
            QFont bold = label->font();
            bold.setBold(true);
            label->setFont(bold);
            auto* meaning =
                new QLabel(info.meaning() + QStringLiteral(" (") + kindText(info) + QLatin1Char(')'), page);
            meaning->setWordWrap(true);
            meaning->setForegroundRole(QPalette::PlaceholderText);
            editor->setToolTip(meaning->text());
            grid->addWidget(label, row, 0, Qt::AlignLeft | Qt::AlignVCenter);
            grid->addWidget(editor, row, 1);
            grid->addWidget(meaning, row + 1, 1);
            row += 2;
        }
        grid->setRowStretch(row, 1);
        auto* scroll = new QScrollArea;
        scroll->setWidgetResizable(true);
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setWidget(page);
        tabCfg->addTab(scroll, dvOptionGroupCaption(group));
    }

    // The option lines as text: every option, also those the table does not know, as typed.
    auto* textPage = new QWidget;
    auto* textLayout = new QVBoxLayout(textPage);
    auto* textHint =
        new QLabel(tr("One option per line, written Name=Value. Lines of other names are kept."), textPage);
    textHint->setWordWrap(true);
    txtCfg = new QPlainTextEdit(textPage);
    txtCfg->setObjectName(QStringLiteral("txtCfg"));
    txtCfg->setToolTip(tr("Please add/delete/modify the options by yourself"));
    txtCfg->setLineWrapMode(QPlainTextEdit::NoWrap);
    textLayout->addWidget(textHint);
    textLayout->addWidget(txtCfg, 1);
    tabCfg->addTab(textPage, tr("As text"));

    btnOk = new QPushButton(tr("&Ok"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setDefault(true);
    btnCancel = new QPushButton(tr("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnHelp = new QPushButton(tr("&Help"), this);
    btnHelp->setObjectName(QStringLiteral("btnHelp"));
    btnHelp->setToolTip(tr("Click here to see the details about the options"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnHelp);
    buttons->addStretch(1);
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabCfg, 1);
    layout->addLayout(buttons);

    setTabOrder(tabCfg, txtCfg);
    setTabOrder(txtCfg, btnOk);
    setTabOrder(btnOk, btnCancel);
    setTabOrder(btnCancel, btnHelp);

    connect(txtCfg, &QPlainTextEdit::textChanged, this, [this] {
        if (FSyncing)
            return;
        // Every line as typed, blank ones and lines without "=" too; a final line break adds no line.
        FLines = splitLines(txtCfg->toPlainText());
        showLines();
    });
    connect(btnOk, &QPushButton::clicked, this, [this] {
        guarded(this, [this] { btnOkClick(); });
        close();
    });
    connect(btnCancel, &QPushButton::clicked, this, &QWidget::close);
    connect(btnHelp, &QPushButton::clicked, this, [this] { guarded(this, [this] { btnHelpClick(); }); });

    // Room for the meanings, never more than the screen.
    QSize size(720, 520);
    if (const QScreen* s = screen())
        size = size.boundedTo(s->availableGeometry().size() * 9 / 10);
    resize(size);
}

QWidget* TdvFrmCfg::createEditor(const TdvOptionInfo& info, QWidget* parent)
{
    QWidget* editor = nullptr;
    switch (info.Kind) {
    case TdvOptionKind::Bool: {
        auto* box = new QCheckBox(parent);
        connect(box, &QCheckBox::toggled, this, [this, &info] { editorChanged(info); });
        editor = box;
        break;
    }
    case TdvOptionKind::Int: {
        auto* spin = new QSpinBox(parent);
        spin->setRange(info.Min, info.Max > info.Min ? info.Max : std::numeric_limits<int>::max());
        connect(spin, &QSpinBox::valueChanged, this, [this, &info] { editorChanged(info); });
        editor = spin;
        break;
    }
    case TdvOptionKind::Choice: {
        auto* combo = new QComboBox(parent);
        combo->addItems(info.choices());
        connect(combo, &QComboBox::currentIndexChanged, this, [this, &info] { editorChanged(info); });
        editor = combo;
        break;
    }
    case TdvOptionKind::Text:
    case TdvOptionKind::Path: {
        auto* edit = new QLineEdit(parent);
        connect(edit, &QLineEdit::textEdited, this, [this, &info] { editorChanged(info); });
        editor = edit;
        break;
    }
    }
    editor->setObjectName(QStringLiteral("opt") + info.name());
    FEditors.insert(info.name(), editor);
    return editor;
}

QWidget* TdvFrmCfg::Editor(const QString& name) const
{
    return FEditors.value(name);
}

void TdvFrmCfg::showLines()
{
    FSyncing = true;
    for (const TdvOptionInfo& info : dvOptionInfos()) {
        QWidget* editor = FEditors.value(info.name());
        // What the getters read: a missing or malformed value shows the default.
        const QString value = optionLineValue(FLines, info.name());
        switch (info.Kind) {
        case TdvOptionKind::Bool:
            static_cast<QCheckBox*>(editor)->setChecked(
                TdvProject::ReadBool(value, TdvProject::ReadBool(info.defaultValue(), false)));
            break;
        case TdvOptionKind::Int:
            static_cast<QSpinBox*>(editor)->setValue(
                TdvProject::ReadInt(value, TdvProject::ReadInt(info.defaultValue(), 0)));
            break;
        case TdvOptionKind::Choice: {
            auto* combo = static_cast<QComboBox*>(editor);
            int index = -1;
            const QStringList choices = info.choices();
            for (int i = 0; i < choices.size() && index < 0; ++i)
                if (choices.at(i).compare(value, Qt::CaseInsensitive) == 0)
                    index = i;
            // A choice that is also a yes or no reads a number the way a boolean does ("0" is False).
            if (index < 0 && !value.isEmpty() && choices.contains(QStringLiteral("True")) &&
                choices.contains(QStringLiteral("False"))) {
                int number = 0;
                if (TdvProject::TryReadInt(value, number))
                    index =
                        int(choices.indexOf(number != 0 ? QStringLiteral("True") : QStringLiteral("False")));
            }
            if (index < 0)
                index = int(choices.indexOf(info.defaultValue()));
            combo->setCurrentIndex(index);
            break;
        }
        case TdvOptionKind::Text:
        case TdvOptionKind::Path:
            static_cast<QLineEdit*>(editor)->setText(value);
            break;
        }
    }
    const QString text = FLines.join(QLatin1Char('\n'));
    if (txtCfg->toPlainText() != text)
        txtCfg->setPlainText(text);
    FSyncing = false;
}

void TdvFrmCfg::editorChanged(const TdvOptionInfo& info)
{
    if (FSyncing)
        return;
    QWidget* editor = FEditors.value(info.name());
    QString value;
    switch (info.Kind) {
    case TdvOptionKind::Bool:
        value =
            static_cast<QCheckBox*>(editor)->isChecked() ? QStringLiteral("True") : QStringLiteral("False");
        break;
    case TdvOptionKind::Int:
        value = QString::number(static_cast<QSpinBox*>(editor)->value());
        break;
    case TdvOptionKind::Choice:
        value = static_cast<QComboBox*>(editor)->currentText();
        break;
    case TdvOptionKind::Text:
    case TdvOptionKind::Path:
        value = static_cast<QLineEdit*>(editor)->text();
        break;
    }
    // Only the option that was changed gets a line; the others stay as they were written, malformed or not.
    setOptionLine(FLines, info.name(), value);
    FSyncing = true;
    txtCfg->setPlainText(FLines.join(QLatin1Char('\n')));
    FSyncing = false;
}

void TdvFrmCfg::showEvent(QShowEvent* event)
{
    TdvFrmBase::showEvent(event);
    guarded(this, [this] { FormShow(); });
}

void TdvFrmCfg::keyPressEvent(QKeyEvent* event)
{
    // Esc is Cancel, as in every dialog of the desktop; the text box passes it on.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        btnCancel->click();
        return;
    }
    TdvFrmBase::keyPressEvent(event);
}

void TdvFrmCfg::FormShow()
{
    // What is on screen goes into the options first, so the Source, Subdir and Target lines match it.
    gProject->StoreOptions(false);
    FLines = gProject->OptionLines();
    showLines();
}

void TdvFrmCfg::btnOkClick()
{
    gProject->SetOptionLines(FLines);
    gProject->ApplyOptions();
}

void TdvFrmCfg::btnHelpClick()
{
    gInfo->OpenLink(QStringLiteral("h"), QString(), QString());
}
