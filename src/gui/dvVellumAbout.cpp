#include "gui/dvVellumAbout.h"

#include "gui/dvIcons.h"

#include <QLabel>

TdvFrmVellumAbout::TdvFrmVellumAbout(QWidget* parent) : TdvFrmAbout(parent)
{
    setObjectName(QStringLiteral("dvFrmVellumAbout"));
    const QPixmap picture = Picture();
    setPicture(picture, QRect(QPoint(16, 16), picture.size()));
}

QPixmap TdvFrmVellumAbout::Picture() const
{
    return productPicture();
}
