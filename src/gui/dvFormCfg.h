#pragma once

#include "gui/dvFormBase.h"

class QPlainTextEdit;
class QPushButton;

// The configuration dialog: the project's option lines as plain text, edited freely.
class TdvFrmCfg : public TdvFrmBase
{
    Q_OBJECT
public:
    explicit TdvFrmCfg(QWidget* parent = nullptr);

    void FormShow();
    void btnOkClick();
    void btnHelpClick();

    QPlainTextEdit* txtCfg = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;
    QPushButton* btnHelp = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};
