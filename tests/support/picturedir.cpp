// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "picturedir.h"

#include <QColor>
#include <QDir>
#include <QImage>

PictureDir::PictureDir()
    : previous(QDir::currentPath())
{
    if (!dir.isValid())
        return;
    QDir(dir.path()).mkdir(QStringLiteral("image"));
    const QString base = dir.path() + QStringLiteral("/image/");
    const char *const names[] = {"right_light", "back_light", "middle_light", "left_light",
                                 "power_light", "trigger_stick", "rocker_light", "rocker_cross"};
    const QColor colours[] = {Qt::red, Qt::green, Qt::blue, Qt::cyan,
                              Qt::magenta, Qt::yellow, Qt::gray, Qt::white};
    for (int i = 0; i < 8; ++i) {
        // Sizes differ too; the cross is 17x18.
        QImage image(i < 7 ? QSize(10 + 2 * i, 11 + 2 * i) : QSize(17, 18), QImage::Format_ARGB32);
        image.fill(colours[i]);
        image.save(base + names[i] + ".png");
    }
    // Each row of the trigger bar holds its own number in red.
    QImage bar(92, 161, QImage::Format_ARGB32);
    for (int row = 0; row < bar.height(); ++row)
        for (int col = 0; col < bar.width(); ++col)
            bar.setPixel(col, row, qRgb(row, 0, 200));
    bar.save(base + "trigger_progress.png");
    QDir::setCurrent(dir.path());
}

PictureDir::~PictureDir()
{
    QDir::setCurrent(previous);
}
