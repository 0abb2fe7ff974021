#pragma once

#include "gui/dvFormAbout.h"

// The product's about box: the generic one with this product's picture.
class TdvFrmVellumAbout : public TdvFrmAbout
{
    Q_OBJECT
public:
    explicit TdvFrmVellumAbout(QWidget* parent = nullptr);

protected:
    QPixmap Picture() const override;
};
