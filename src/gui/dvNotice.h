#pragma once

#include <QFrame>

class QLabel;

// A line above the list that says why the last command did nothing or what it left out (an empty field, a
// source that is not there, a dropped file that is no presentation); hidden while there is nothing to say.
class TdvNoticeBar : public QFrame
{
    Q_OBJECT
public:
    explicit TdvNoticeBar(QWidget* parent = nullptr);
    void SetText(const QString& text);
    // What it says, or empty text while it is hidden.
    QString Text() const;

    QLabel* lblNotice = nullptr;
};
