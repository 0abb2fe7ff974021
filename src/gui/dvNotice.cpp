#include "gui/dvNotice.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>

TdvNoticeBar::TdvNoticeBar(QWidget* parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("pNotice"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 4, 6, 4);
    auto* icon = new QLabel(this);
    const int size = style()->pixelMetric(QStyle::PM_SmallIconSize);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(size, size));
    lblNotice = new QLabel(this);
    lblNotice->setObjectName(QStringLiteral("lblNotice"));
    lblNotice->setWordWrap(true);
    lblNotice->setTextFormat(Qt::PlainText);
    lblNotice->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long path must not widen the window.
    lblNotice->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(icon);
    layout->addWidget(lblNotice, 1);
    setVisible(false);
}

void TdvNoticeBar::SetText(const QString& text)
{
    lblNotice->setText(text);
    setVisible(!text.isEmpty());
}

QString TdvNoticeBar::Text() const
{
    return isHidden() ? QString() : lblNotice->text();
}
