#include "gui/dvFormAbout.h"

#include "gui/dvFormMain.h"
#include "project/dvProject.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TdvFrmAbout* dvFrmAbout = nullptr;

namespace {

// A label of the product band: the desktop's font at a given scale, light on the product's blue.
QLabel* bandLabel(QWidget* parent, const char* name, qreal scale, bool bold)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * scale);
    font.setBold(bold);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, QColor(221, 221, 221));
    label->setPalette(pal);
    // Clicks on a label close the box like clicks on the band.
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}

} // namespace

TdvFrmAbout::TdvFrmAbout(QWidget* parent) : TdvFrmBase(parent, Qt::Dialog)
{
    setObjectName(QStringLiteral("dvFrmAbout"));
    // Not every desktop keeps its place between showings (X11 put it in the corner): centre it each time.
    FCentreEachShow = true;

    // The product band: picture, title, version and copyright on the product's blue.
    pBand = new QWidget(this);
    pBand->setObjectName(QStringLiteral("pBand"));
    QPalette band = pBand->palette();
    band.setColor(QPalette::Window, QColor(0, 85, 255));
    pBand->setPalette(band);
    pBand->setAutoFillBackground(true);
    pBand->setMinimumSize(472, 200);

    img = new QLabel(pBand);
    img->setObjectName(QStringLiteral("img"));
    img->setAttribute(Qt::WA_TransparentForMouseEvents);
    img->setAlignment(Qt::AlignTop);
    lblProduct = bandLabel(pBand, "lblProduct", 1.8, true);
    lblVersion = bandLabel(pBand, "lblVersion", 1.15, true);
    lblCopright = bandLabel(pBand, "lblCopright", 1.0, false);
    lblCopright->setText(tr("Copyright \u00A9 2024 Vellum Converter developers"));
    auto* texts = new QVBoxLayout;
    texts->addWidget(lblProduct);
    texts->addWidget(lblVersion);
    texts->addStretch(1);
    texts->addWidget(lblCopright);
    auto* bandLayout = new QHBoxLayout(pBand);
    bandLayout->setContentsMargins(16, 16, 24, 16);
    bandLayout->setSpacing(20);
    bandLayout->addWidget(img);
    bandLayout->addLayout(texts, 1);

    // What the program stands on, and under which licences.
    lblCredits = new QLabel(this);
    lblCredits->setObjectName(QStringLiteral("lblCredits"));
    lblCredits->setWordWrap(true);
    lblCredits->setTextFormat(Qt::PlainText);
    lblCredits->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblCredits->setText(
        tr("Licence: all rights reserved by the Vellum Converter developers.\n\n"
           "Vellum Converter converts through LibreOffice (https://www.libreoffice.org), which runs as a "
           "program of its own and is licensed under the Mozilla Public License 2.0; it reaches it through "
           "the LibreOffice UNO runtime libraries under the same licence.\n\n"
           "Its window is built with Qt %1 (https://www.qt.io), used under the GNU Lesser General Public "
           "License version 3.")
            .arg(QString::fromLatin1(qVersion())));

    btnAboutQt = new QPushButton(tr("About &Qt"), this);
    btnAboutQt->setObjectName(QStringLiteral("btnAboutQt"));
    btnAboutQt->setAutoDefault(false);
    btnClose = new QPushButton(tr("&Close"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnAboutQt);
    buttons->addStretch(1);
    buttons->addWidget(btnClose);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 12);
    layout->addWidget(pBand);
    auto* lower = new QVBoxLayout;
    lower->setContentsMargins(16, 8, 16, 0);
    lower->addWidget(lblCredits);
    lower->addLayout(buttons);
    layout->addLayout(lower, 1);
    setFixedWidth(std::max(520, sizeHint().width()));
    resize(width(), sizeHint().height());

    connect(btnAboutQt, &QPushButton::clicked, this, [] { QApplication::aboutQt(); });
    connect(btnClose, &QPushButton::clicked, this, &QWidget::close);
}

void TdvFrmAbout::setPicture(const QPixmap& picture, const QRect& geometry)
{
    img->setFixedSize(geometry.size());
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
        setWindowTitle(tr("About %1").arg(gProject->Title));
    }
    btnClose->setFocus();
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
    // Tab moves between the buttons; any other key closes the box.
    if (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab) {
        TdvFrmBase::keyPressEvent(event);
        return;
    }
    event->accept();
    FormKeyPress();
}
