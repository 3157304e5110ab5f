// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "calibrationquality.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace {

constexpr double Pi = 3.14159265358979323846;

// The skin's colours: its light and dark greys for text, its teal for what is done, and a
// warm amber for a figure beyond its limit.
const QColor TextColour(0xd4, 0xd4, 0xd4);
const QColor CaptionColour(0x7d, 0x7d, 0x7d);
const QColor VisitedColour(0x2f, 0xc3, 0xd3);
const QColor MissingColour(0x12, 0x22, 0x2a);
const QColor EdgeColour(0x3a, 0x55, 0x60);
const QColor WarningColour(0xe8, 0xa8, 0x3a);

constexpr double DiscRadius = 27.0;

// Distance from the disc's centre of height z on its hemisphere, keeping areas: a cap of the
// sphere from the pole down to z has the area 2 pi (1 - |z|), a disc of radius r pi r^2.
double radiusAt(double z, bool upper)
{
    return DiscRadius * std::sqrt(std::max(0.0, 1.0 - (upper ? z : -z)));
}

QPainterPath sector(const QPointF &centre, double inner, double outer, double fromDeg, double spanDeg)
{
    QPainterPath path;
    const QRectF outerBox(centre.x() - outer, centre.y() - outer, 2 * outer, 2 * outer);
    path.arcMoveTo(outerBox, fromDeg);
    path.arcTo(outerBox, fromDeg, spanDeg);
    if (inner > 0.0) {
        const QRectF innerBox(centre.x() - inner, centre.y() - inner, 2 * inner, 2 * inner);
        path.arcTo(innerBox, fromDeg + spanDeg, -spanDeg);
    } else {
        path.lineTo(centre);
    }
    path.closeSubpath();
    return path;
}

QFont textFont(int pointSize, bool bold)
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(pointSize);
    font.setBold(bold);
    return font;
}

} // namespace

CalibrationQuality::CalibrationQuality(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
}

void CalibrationQuality::setCoverage(const MagCoverage &coverage)
{
    std::bitset<MagCoverage::RegionCount> now;
    for (int region = 0; region < MagCoverage::RegionCount; ++region)
        now.set(size_t(region), coverage.visited(region));
    if (now == visited)
        return;
    visited = now;
    coveragePercent = 100.0 * double(visited.count()) / MagCoverage::RegionCount;
    update();
}

void CalibrationQuality::setFigures(std::optional<double> fit, double minimum, double maximum)
{
    fitError = fit;
    minCoverage = minimum;
    maxFitError = maximum;
    update();
}

void CalibrationQuality::paintHemisphere(QPainter &painter, const QPointF &centre, bool upper) const
{
    const auto &regions = MagCoverage::regions();
    for (size_t i = 0; i < regions.size(); ++i) {
        const MagCoverage::Region &r = regions[i];
        if (upper ? r.zBottom < 0.0 : r.zTop > 0.0)
            continue;
        const double inner = radiusAt(upper ? r.zTop : r.zBottom, upper);
        const double outer = radiusAt(upper ? r.zBottom : r.zTop, upper);
        // Seen from outside: from above, +x to the right and +y up; from below, mirrored.
        double from = r.longitudeFrom * 180.0 / Pi;
        double span = (r.longitudeTo - r.longitudeFrom) * 180.0 / Pi;
        if (!upper)
            from = 180.0 - from - span;
        painter.setBrush(visited[i] ? VisitedColour : MissingColour);
        painter.drawPath(sector(centre, inner, outer, from, span));
    }
}

void CalibrationQuality::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(EdgeColour, 0.8));

    const QPointF upper(4 + DiscRadius, 4 + DiscRadius);
    const QPointF lower(upper.x() + 2 * DiscRadius + 8, upper.y());
    paintHemisphere(painter, upper, true);
    paintHemisphere(painter, lower, false);

    painter.setFont(textFont(7, false));
    painter.setPen(CaptionColour);
    const double captionTop = upper.y() + DiscRadius + 2;
    painter.drawText(QRectF(upper.x() - DiscRadius, captionTop, 2 * DiscRadius, 12), Qt::AlignCenter,
                     QStringLiteral("+Z"));
    painter.drawText(QRectF(lower.x() - DiscRadius, captionTop, 2 * DiscRadius, 12), Qt::AlignCenter,
                     QStringLiteral("-Z"));

    // The two figures, each a caption over its value.
    const double left = lower.x() + DiscRadius + 12;
    const QRectF column(left, 2, width() - left, height() - 4);
    struct Figure {
        const char *caption;
        QString value;
        bool withinLimit;
    };
    const Figure figures[] = {
        {"Coverage", QString::number(coveragePercent, 'f', 0) + QStringLiteral(" %"), coveragePercent >= minCoverage},
        {"Fit error", fitError ? QString::number(*fitError, 'f', 1) + QStringLiteral(" %") : QStringLiteral("–"),
         fitError && *fitError <= maxFitError},
    };
    double top = column.top();
    for (const Figure &figure : figures) {
        painter.setFont(textFont(7, false));
        painter.setPen(CaptionColour);
        painter.drawText(QRectF(column.left(), top, column.width(), 12), Qt::AlignLeft | Qt::AlignVCenter,
                         QLatin1String(figure.caption));
        painter.setFont(textFont(11, true));
        painter.setPen(figure.withinLimit ? TextColour : WarningColour);
        painter.drawText(QRectF(column.left(), top + 12, column.width(), 22), Qt::AlignLeft | Qt::AlignVCenter,
                         figure.value);
        top += 37;
    }
}
