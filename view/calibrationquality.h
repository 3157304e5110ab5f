// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The live figures of a magnetometer recording, drawn in the skin's look: a map of the
// sphere's regions, visited and still missing, and the coverage and fit error beside it. The
// map shows the two hemispheres as discs, each seen from outside along its pole (+Z from
// above, -Z from below), with equal areas kept equal, so a gap on the map is a direction the
// unit has not been turned to yet.
#pragma once

#include "magcoverage.h"

#include <QWidget>

#include <bitset>
#include <optional>

class CalibrationQuality : public QWidget
{
    Q_OBJECT

public:
    explicit CalibrationQuality(QWidget *parent = nullptr);

    // The regions visited so far, and their share; repaints only when they changed.
    void setCoverage(const MagCoverage &coverage);
    // The fit error of the last refresh (none: shown as "–"), and the limits the gate judges
    // by: a figure beyond its limit is drawn in the warning colour.
    void setFigures(std::optional<double> fitError, double minCoverage, double maxFitError);

    QSize sizeHint() const override { return QSize(205, 78); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void paintHemisphere(class QPainter &painter, const QPointF &centre, bool upper) const;

    std::bitset<MagCoverage::RegionCount> visited;
    double coveragePercent = 0.0;
    std::optional<double> fitError;
    double minCoverage = 100.0;
    double maxFitError = 0.0;
};
