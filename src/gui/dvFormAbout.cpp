#include "gui/dvFormAbout.h"

#include "gui/dvFormMain.h"
#include "project/dvProject.h"

#include <QKeyEvent>
#include <QLabel>

TdvFrmAbout* dvFrmAbout = nullptr;

namespace {
QLabel* aboutLabel(QWidget* parent, const char* name, const QRect& geometry, int pixelSize, bool bold)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    QFont font(QStringLiteral("Verdana"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, QColor(221, 221, 221));
    label->setPalette(pal);
    // Clicks on a label close the box like clicks on the form.
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}
} // namespace

TdvFrmAbout::TdvFrmAbout(QWidget* parent) : TdvFrmBase(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("dvFrmAbout"));
    // Not every desktop keeps its place between showings (X11 put it in the corner): centre it each time.
    FCentreEachShow = true;
    setWindowOpacity(200.0 / 255.0);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0, 85, 255));
    setPalette(pal);
    setAutoFillBackground(true);
    QFont font(QStringLiteral("Verdana"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    setFont(font);
    resize(472, 243);
    setFixedSize(472, 243);

    img = new QLabel(this);
    img->setObjectName(QStringLiteral("img"));
    img->setGeometry(40, 40, 80, 80);
    img->setAttribute(Qt::WA_TransparentForMouseEvents);

    lblProduct = aboutLabel(this, "lblProduct", QRect(163, 40, 250, 50), 21, true);
    lblProduct->setWordWrap(true);
    lblProduct->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lblVersion = aboutLabel(this, "lblVersion", QRect(176, 96, 224, 16), 13, true);
    lblVersion->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lblCopright = aboutLabel(this, "lblCopright", QRect(184, 208, 264, 16), 13, false);
    lblCopright->setText(QStringLiteral("Copyright \u00A9 2024 Vellum Converter"));
}

void TdvFrmAbout::setPicture(const QPixmap& picture, const QRect& geometry)
{
    img->setGeometry(geometry);
    img->setPixmap(picture);
}

void TdvFrmAbout::ShowAbout()
{
    if (FShowCount > 0) {
        ShowModal();
    } else if (gProject && gProject->PureConsole() && dvFrmMain) {
        // A PureConsole run that needs the window (a web source) must stay invisible.
        dvFrmMain->setWindowOpacity(0);
    }
    ++FShowCount;
}

void TdvFrmAbout::showEvent(QShowEvent* event)
{
    TdvFrmBase::showEvent(event);
    FormShow();
}

void TdvFrmAbout::FormShow()
{
    if (lblProduct->text().isEmpty() && gProject) {
        // Plain-text labels show an ampersand as it is; no doubling needed.
        lblProduct->setText(gProject->Title);
        lblVersion->setText(gProject->Version);
    }
    ++FShowCount;
}

void TdvFrmAbout::FormClick()
{
    if (FShowCount > 1)
        close();
}

void TdvFrmAbout::FormKeyPress()
{
    FormClick();
}

void TdvFrmAbout::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    FormClick();
}

void TdvFrmAbout::keyPressEvent(QKeyEvent* event)
{
    event->accept();
    FormKeyPress();
}
