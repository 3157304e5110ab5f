#include "magrecording.h"

#include "magcalibration.h"

void MagRecording::start()
{
    for (int axis = 0; axis < 3; ++axis)
        magMax[axis] = magMin[axis] = 0;
    cover.reset();
}

void MagRecording::addSample(const int16_t sample[3])
{
    cover.addSample(sample);
}

bool MagRecording::tick(const int16_t latest[3])
{
    if (!MagCalibration::updateExtremes(magMax, magMin, latest))
        return false;
    cover.setCentre(magMax, magMin);
    return true;
}

MAG_PARAM MagRecording::values() const
{
    return MAG_PARAM{magMax[0], magMax[1], magMax[2], magMin[0], magMin[1], magMin[2]};
}
