// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "outcome.h"

QString writeAnswerText(WriteAnswer answer)
{
    return answer == WriteAnswer::Success ? QStringLiteral("success")
         : answer == WriteAnswer::Fail    ? QStringLiteral("fail")
         : answer == WriteAnswer::NotSent ? QStringLiteral("not sent")
                                          : QStringLiteral("none");
}

int writeAnswerStatus(WriteAnswer answer)
{
    return answer == WriteAnswer::Success ? StatusSuccess
         : answer == WriteAnswer::Fail    ? StatusFailed
                                          : StatusError;
}

const char *toolVersion()
{
    return IMUCAL_VERSION;
}
