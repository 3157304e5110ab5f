// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "backdropcache.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QWidget>
#include <QWindow>

bool BackdropCache::Layer::operator==(const Layer &other) const
{
    return background == other.background && fills == other.fills && sheet == other.sheet;
}

bool BackdropCache::Source::operator==(const Source &other) const
{
    return inWindow == other.inWindow && pixelRatio == other.pixelRatio
            && pixmap == other.pixmap && text == other.text && appSheet == other.appSheet
            && layers == other.layers;
}

BackdropCache::BackdropCache(QWidget *widget)
    : QObject(widget)
    , widget(widget)
{
    widget->setAttribute(Qt::WA_OpaquePaintEvent);
    widget->installEventFilter(this);
    watchWindow();
}

BackdropCache::~BackdropCache()
{
    if (window)
        window->removeEventFilter(this);
    if (windowHandle)
        windowHandle->removeEventFilter(this);
    widget->setAttribute(Qt::WA_OpaquePaintEvent, false);
    widget->update();
}

// The top-level can change (reparenting) and gets its native window only when first shown.
void BackdropCache::watchWindow()
{
    QWidget *top = widget->window();
    if (top != window) {
        if (window)
            window->removeEventFilter(this);
        window = top;
        window->installEventFilter(this);
    }
    QObject *handle = window->windowHandle();
    if (handle != windowHandle) {
        if (windowHandle)
            windowHandle->removeEventFilter(this);
        windowHandle = handle;
        if (handle)
            handle->installEventFilter(this);
    }
}

BackdropCache::Source BackdropCache::currentSource() const
{
    Source source;
    source.inWindow = QRect(widget->mapTo(widget->window(), QPoint()), widget->size());
    source.pixelRatio = widget->devicePixelRatioF();
    if (const auto *label = qobject_cast<const QLabel *>(widget)) {
        source.pixmap = label->pixmap(Qt::ReturnByValue).cacheKey();
        source.text = label->text();
    }
    source.appSheet = qApp->styleSheet();
    for (const QWidget *w = widget; w; w = w->isWindow() ? nullptr : w->parentWidget()) {
        // A top-level is painted on its window brush, a child on its own background role.
        const QPalette::ColorRole role = w->isWindow() ? QPalette::Window : w->backgroundRole();
        source.layers.push_back({w->palette().brush(role), w->autoFillBackground(),
                                 w->styleSheet()});
    }
    return source;
}

void BackdropCache::refresh()
{
    if (!widget->isVisible() || building)
        return;
    const Source source = currentSource();
    if (picture.isNull() || !(source == madeFrom))
        build(source);
}

// Paints what lies under the widget and then the widget itself, each as Qt paints it into the
// window: the top-level's background and own painting, then each ancestor's own painting, none
// of their children.
void BackdropCache::build(const Source &source)
{
    QWidget *top = widget->window();
    const QImage::Format format = top->testAttribute(Qt::WA_TranslucentBackground)
            ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    picture = QImage(widget->size() * source.pixelRatio, format);
    picture.setDevicePixelRatio(source.pixelRatio);
    picture.fill(Qt::transparent);

    std::vector<QWidget *> ancestors;
    for (QWidget *w = widget->parentWidget(); w; w = w->isWindow() ? nullptr : w->parentWidget())
        ancestors.push_back(w);
    building = true;
    for (auto it = ancestors.rbegin(); it != ancestors.rend(); ++it) {
        QWidget *ancestor = *it;
        const QRect area(widget->mapTo(ancestor, QPoint()), widget->size());
        ancestor->render(&picture, QPoint(), QRegion(area),
                         ancestor->isWindow() ? QWidget::DrawWindowBackground
                                              : QWidget::RenderFlags());
    }
    // Qt paints no background for a widget it takes as opaque, so the widget is rendered as
    // the transparent widget it would be without this cache.
    widget->setAttribute(Qt::WA_OpaquePaintEvent, false);
    widget->render(&picture, QPoint(), QRegion(), QWidget::RenderFlags());
    widget->setAttribute(Qt::WA_OpaquePaintEvent);
    building = false;
    madeFrom = source;
    ++buildCount;
}

bool BackdropCache::paint(const QRegion &region)
{
    // The style sheet style clears the attribute whenever it polishes the widget.
    widget->setAttribute(Qt::WA_OpaquePaintEvent);
    if (picture.isNull() || !(currentSource() == madeFrom)) {
        if (!correctionDue) {
            correctionDue = true;
            QMetaObject::invokeMethod(this, [this] {
                correctionDue = false;
                refresh();
                widget->update();
            }, Qt::QueuedConnection);
        }
        if (picture.isNull())
            return false;
    }
    QPainter painter(widget);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    const qreal ratio = picture.devicePixelRatio();
    for (const QRect &r : region)
        painter.drawImage(r, picture, QRectF(QPointF(r.topLeft()) * ratio, QSizeF(r.size()) * ratio));
    return true;
}

bool BackdropCache::eventFilter(QObject *watched, QEvent *event)
{
    if (building)
        return false;
    if (watched == widget) {
        switch (event->type()) {
        case QEvent::Paint:
            return paint(static_cast<QPaintEvent *>(event)->region());
        case QEvent::Polish:
        case QEvent::StyleChange:
            widget->setAttribute(Qt::WA_OpaquePaintEvent);
            break;
        case QEvent::ParentChange:
        case QEvent::Show:
            watchWindow();
            break;
        default:
            break;
        }
        return false;
    }
    // Before the window paints: an update request, or an expose of its native window.
    if ((watched == window && event->type() == QEvent::UpdateRequest)
            || (watched == windowHandle && event->type() == QEvent::Expose))
        refresh();
    return false;
}
