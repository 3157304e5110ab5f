// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "labeltextcache.h"

#include <QAbstractTextDocumentLayout>
#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QTextDocument>
#include <QTextFrame>

LabelTextCache::LabelTextCache(QLabel *label, const QStringList &texts)
    : QObject(label)
    , label(label)
    , texts(texts)
{
    label->installEventFilter(this);
}

LabelTextCache::~LabelTextCache() = default;

bool LabelTextCache::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != label || event->type() != QEvent::Paint || !paintsLikeLabel())
        return false;
    QTextDocument *document = documentFor(label->text());
    if (!document)
        return false;
    paint(document);
    return true;
}

bool LabelTextCache::paintsLikeLabel() const
{
    return label->frameWidth() == 0 && label->textFormat() != Qt::PlainText
            && label->layoutDirection() == Qt::LeftToRight && label->isEnabled()
            && !label->style()->inherits("QStyleSheetStyle");
}

// The rectangle QLabel lays its text out in: the contents less margin and indent.
QRectF LabelTextCache::documentRect() const
{
    QRect r = label->contentsRect();
    const int margin = label->margin();
    r.adjust(margin, margin, -margin, -margin);
    const int indent = label->indent();
    if (indent > 0) {
        const Qt::Alignment align = label->alignment();
        if (align & Qt::AlignLeft)
            r.setLeft(r.left() + indent);
        if (align & Qt::AlignRight)
            r.setRight(r.right() - indent);
        if (align & Qt::AlignTop)
            r.setTop(r.top() + indent);
        if (align & Qt::AlignBottom)
            r.setBottom(r.bottom() - indent);
    }
    return r;
}

QTextDocument *LabelTextCache::documentFor(const QString &text)
{
    const int index = texts.indexOf(text);
    if (index < 0)
        return nullptr;

    const QRectF rect = documentRect();
    const int alignment = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
    if (documents.empty() || laidOutFont != label->font() || laidOutRect != rect
            || laidOutAlignment != alignment) {
        documents.clear();
        laidOutFont = label->font();
        laidOutRect = rect;
        laidOutAlignment = alignment;
    }
    if (documents.empty()) {
        // Set up as QLabel sets up the document of a rich text.
        for (const QString &t : texts) {
            auto document = std::make_unique<QTextDocument>();
            document->setUndoRedoEnabled(false);
            document->setDefaultFont(label->font());
            document->setHtml(t);
            QTextOption option = document->defaultTextOption();
            option.setAlignment(label->alignment());
            option.setWrapMode(label->wordWrap() ? QTextOption::WordWrap
                                                 : QTextOption::ManualWrap);
            document->setDefaultTextOption(option);
            QTextFrameFormat frame = document->rootFrame()->frameFormat();
            frame.setMargin(0);
            document->rootFrame()->setFrameFormat(frame);
            document->setTextWidth(rect.width());
            documents.push_back(std::move(document));
        }
    }
    return documents[size_t(index)].get();
}

// As QLabel paints a rich text: placed in the document rectangle by the vertical
// alignment, clipped to it, in the label's palette with its foreground as the text colour.
void LabelTextCache::paint(QTextDocument *document)
{
    const QRectF rect = documentRect();
    const qreal height = document->documentLayout()->documentSize().height();
    qreal top = 0;
    if (label->alignment() & Qt::AlignVCenter)
        top = qMax((rect.height() - height) / 2, qreal(0));
    else if (label->alignment() & Qt::AlignBottom)
        top = qMax(rect.height() - height, qreal(0));
    const QRect placed = QRectF(rect.x(), top + rect.y(), rect.width(), rect.height())
                                 .toAlignedRect();

    QStyleOption option;
    option.initFrom(label);
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette = option.palette;
    if (label->foregroundRole() != QPalette::Text)
        context.palette.setColor(QPalette::Text, context.palette.color(label->foregroundRole()));

    QPainter painter(label);
    painter.translate(placed.topLeft());
    painter.setClipRect(placed.translated(-placed.x(), -placed.y()));
    document->documentLayout()->draw(&painter, context);
}
