// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// How an operation on a controller ended, in the words the record and the exit status use.
#pragma once

#include <QString>

// The status of one operation, and the exit status of a job: the worst of its operations.
enum ToolStatus {
    StatusSuccess = 0,   // every operation succeeded
    StatusFailed = 1,    // the controller answered "fail", or the check failed
    StatusError = 2,     // the job could not finish: usage, adapter, controller, link, time
};

// The answer to a parameter write. "success" and "fail" only when the controller answered
// (statuses 0 and 1); "not sent" when the frame never reached it (refused, or lost on its way)
// and "none" when it went out and no answer came (both status 2).
enum class WriteAnswer { None, Success, Fail, NotSent };
QString writeAnswerText(WriteAnswer answer);
int writeAnswerStatus(WriteAnswer answer);

// The project's version.
const char *toolVersion();
