#pragma once

#include <QIcon>
#include <QList>
#include <QPixmap>

// The image list shared by the tool bar, the actions and the list rows, drawn by the program itself:
// 0 listed or running, 1 success, 2 failure, then the tool bar's pictures, then the finer row states that
// tell a waiting row from one being converted, a skipped one and one that a stopped run never reached.
enum TdvImage {
    imgRunning = 0,
    imgSuccess = 1,
    imgFailure = 2,
    imgOpen = 3,
    imgNew = 4,
    imgSave = 5,
    imgSaveAs = 6,
    imgUpdate = 7,
    imgHelp = 8,
    imgHome = 9,
    imgSupport = 10,
    imgAbout = 11,
    imgSearch = 12,
    imgConvert = 13,
    imgConfig = 14,
    imgConverting = 15,
    imgSkipped = 16,
    imgNotDone = 17,
    imgCount = 18
};

QList<QIcon> makeImageList();

// The product picture of the about box: 128 x 128 pixels.
QPixmap productPicture();
// The program's icon: the desktop theme's "vellum" where it is installed, else the product picture.
QIcon productIcon();
