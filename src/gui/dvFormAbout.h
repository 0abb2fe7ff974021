#pragma once

#include "gui/dvFormBase.h"

#include <QPixmap>

class QLabel;
class QPushButton;

// The about box: the product's picture, title, version and copyright line on the product's blue, the licence
// and the credits of what the program stands on, and Qt's own about box; a click on the band or any key
// closes it.
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
    QWidget* pBand = nullptr;
    QLabel* lblCredits = nullptr;
    QPushButton* btnAboutQt = nullptr;
    QPushButton* btnClose = nullptr;

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
