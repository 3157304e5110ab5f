// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Paints a widget that lies still under the window's changing widgets from one picture of it.
//
// The skin's picture panel covers most of the window, under the pages and the status line, and
// draws a translucent fill and a picture over the window's background. Every repaint of a
// widget above it, dozens a second while a controller streams, would blend all of that anew.
// With the cache installed the panel counts as opaque, so Qt no longer paints the window's
// background under it, and it paints the region asked for from a picture of its pixels over
// that background: the window's background, every ancestor's own painting and the panel's own,
// made the way Qt paints them (QWidget::render).
//
// The picture is made again whenever what it shows could differ: the panel's place or size,
// its pixmap or text, the background brush or style sheet of the panel or of any widget under
// it, the application's style sheet or the pixel ratio. That is
// checked before the window paints (on its update requests and exposes), because a widget
// cannot be rendered while the window is painting. A change that only shows up during painting
// is painted from the old picture once and corrected on the next pass of the event loop.
#pragma once

#include <QBrush>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>

#include <vector>

class QWidget;

class BackdropCache : public QObject
{
    Q_OBJECT

public:
    // Becomes a child of `widget`, whose pixels should change only through the things above.
    explicit BackdropCache(QWidget *widget);
    ~BackdropCache() override;

    // Times the picture has been made; for tests.
    int builds() const { return buildCount; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // What one widget of the stack (the widget, then each ancestor up to the top-level)
    // paints with.
    struct Layer {
        QBrush background;
        bool fills = false;      // autoFillBackground
        QString sheet;
        bool operator==(const Layer &other) const;
    };
    struct Source {
        QRect inWindow;
        qreal pixelRatio = 1.0;
        qint64 pixmap = 0;
        QString text;
        QString appSheet;
        std::vector<Layer> layers;
        bool operator==(const Source &other) const;
    };
    Source currentSource() const;
    void refresh();
    void build(const Source &source);
    void watchWindow();
    bool paint(const QRegion &region);

    QWidget *widget;
    QPointer<QWidget> window;          // the top-level whose painting is watched
    QPointer<QObject> windowHandle;    // and its native window, which gets the exposes
    QImage picture;
    Source madeFrom;
    bool building = false;
    bool correctionDue = false;
    int buildCount = 0;
};
