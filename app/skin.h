// Where the skin's pictures come from.
#pragma once

#include <QString>

namespace Skin {

// The folder the pictures are read from, with a trailing slash: "./image/" when the working
// directory's image folder holds pictures; otherwise the installed picture folder found from
// the executable's folder (../share/imu-calibration-tool/image) when that holds some; otherwise
// "./image/" again, where missing pictures are simply not shown.
QString pictureFolder(const QString &workingDir, const QString &applicationDir);

} // namespace Skin
