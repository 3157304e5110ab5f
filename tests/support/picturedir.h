// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// A working directory holding ./image with one distinct picture per light, while alive: the
// window's skin loads them, and a test can tell each light's picture from the others.
#pragma once

#include <QString>
#include <QTemporaryDir>

class PictureDir
{
public:
    PictureDir();
    ~PictureDir();
    bool isValid() const { return dir.isValid(); }

private:
    QTemporaryDir dir;
    QString previous;
};
