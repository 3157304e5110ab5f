// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Where the skin's pictures come from, and the style sheets it dresses the form's widgets in.
#pragma once

#include <QString>

#include <vector>

namespace Skin {

// The folder the pictures are read from, with a trailing slash: "./image/" when the working
// directory's image folder holds pictures; otherwise the installed picture folder found from
// the executable's folder (../share/imu-calibration-tool/image) when that holds some; otherwise
// "./image/" again, where missing pictures are simply not shown.
QString pictureFolder(const QString &workingDir, const QString &applicationDir);

// A style sheet the skin gives one widget of the form, named by its object name.
struct WidgetSheet {
    const char *widget;
    const char *sheet;
};

// Every style sheet the skin gives the form's widgets at start. The widgets not named here keep
// the form's own, which is none.
const std::vector<WidgetSheet> &widgetSheets();

// The style sheet of the drop-down's open list.
extern const char dropDownListSheet[];

} // namespace Skin
