#pragma once

#include "gui/dvFormBase.h"

#include <QHash>
#include <QStringList>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
struct TdvOptionInfo;

// The configuration dialog: every option the project knows, grouped, each with its kind, default and a line
// of meaning, and the option lines as plain text (the advanced view of the same options, where unknown lines
// are kept and any line may be typed).
class TdvFrmCfg : public TdvFrmBase
{
    Q_OBJECT
public:
    explicit TdvFrmCfg(QWidget* parent = nullptr);

    void FormShow();
    void btnOkClick();
    void btnHelpClick();

    // The editor of an option (a check box, spin box, combo box or line edit named "opt" and the option's
    // name), or null.
    QWidget* Editor(const QString& name) const;
    // The option lines as the dialog holds them now.
    QStringList Lines() const { return FLines; }

    QTabWidget* tabCfg = nullptr;
    QPlainTextEdit* txtCfg = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;
    QPushButton* btnHelp = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* createEditor(const TdvOptionInfo& info, QWidget* parent);
    // The editors from the lines, and the text from the lines, without either echoing back.
    void showLines();
    void editorChanged(const TdvOptionInfo& info);

    QStringList FLines;
    QHash<QString, QWidget*> FEditors; // by option name
    bool FSyncing = false;
};

// Sets an option in a list of option lines the way the project does: the first line of that name (letter
// case ignored) gets the value, or a line is appended; an empty value removes the line.
void setOptionLine(QStringList& lines, const QString& name, const QString& value);
// The value of the first line of that name, or empty text.
QString optionLineValue(const QStringList& lines, const QString& name);
