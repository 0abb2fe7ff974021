#pragma once

#include "gui/dvFormBase.h"

#include <QPixmap>

class QLabel;

// The about box: a borderless, semi-transparent window with the product's picture, title, version and
// copyright line; any click or key closes it.
class TdvFrmAbout : public TdvFrmBase
{
    Q_OBJECT
public:
    explicit TdvFrmAbout(QWidget* parent = nullptr);

    // Once at start-up (shows nothing; keeps a PureConsole run's window invisible), then the About command.
    void ShowAbout();
    void FormShow();
    void FormClick();
    void FormKeyPress();
    int ShowCount() const { return FShowCount; }

    QLabel* img = nullptr;
    QLabel* lblProduct = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* lblCopright = nullptr;

protected:
    // The product's picture; the generic form has none.
    virtual QPixmap Picture() const { return QPixmap(); }
    // Sets the picture: the product form places it at its own size.
    void setPicture(const QPixmap& picture, const QRect& geometry);

    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    int FShowCount = 0;
};

extern TdvFrmAbout* dvFrmAbout;
