#pragma once

#include <QIcon>
#include <QList>
#include <QPixmap>

// The image list shared by the tool bar, the actions and the list rows, drawn by the program itself:
// 0 listed or running, 1 success, 2 failure, then the tool bar's pictures (see TdvImage).
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
    imgCount = 15
};

QList<QIcon> makeImageList();

// The product picture of the about box: 128 x 128 pixels.
QPixmap productPicture();
