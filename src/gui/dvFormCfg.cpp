#include "gui/dvFormCfg.h"

#include "base/dvFileUtils.h"
#include "project/dvProject.h"
#include "shell/dvInfo.h"

#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>

TdvFrmCfg::TdvFrmCfg(QWidget* parent)
    : TdvFrmBase(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                             Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                             Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("dvFrmCfg"));
    setWindowTitle(QStringLiteral("Config"));
    setFixedSize(292, 273);

    txtCfg = new QPlainTextEdit(this);
    txtCfg->setObjectName(QStringLiteral("txtCfg"));
    txtCfg->setGeometry(16, 16, 256, 200);
    txtCfg->setToolTip(QStringLiteral("Please add/delete/modify the options by yourself"));
    txtCfg->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtCfg->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtCfg->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    btnOk = new QPushButton(QStringLiteral("&Ok"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setGeometry(120, 233, 72, 25);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(200, 233, 72, 25);
    btnHelp = new QPushButton(QStringLiteral("Help"), this);
    btnHelp->setObjectName(QStringLiteral("btnHelp"));
    btnHelp->setGeometry(16, 233, 72, 25);
    btnHelp->setToolTip(QStringLiteral("Click here to see the details about the options"));

    setTabOrder(txtCfg, btnOk);
    setTabOrder(btnOk, btnCancel);
    setTabOrder(btnCancel, btnHelp);

    connect(btnOk, &QPushButton::clicked, this, [this] {
        guarded(this, [this] { btnOkClick(); });
        close();
    });
    connect(btnCancel, &QPushButton::clicked, this, &QWidget::close);
    connect(btnHelp, &QPushButton::clicked, this, [this] { guarded(this, [this] { btnHelpClick(); }); });
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
    txtCfg->setPlainText(gProject->OptionLines().join(QLatin1Char('\n')));
}

void TdvFrmCfg::btnOkClick()
{
    // Every line as typed, blank ones and lines without "=" too; a final line break adds no line.
    gProject->SetOptionLines(splitLines(txtCfg->toPlainText()));
    gProject->ApplyOptions();
}

void TdvFrmCfg::btnHelpClick()
{
    gInfo->OpenLink(QStringLiteral("h"), QString(), QString());
}
