// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Paints a rich-text label that flips between a few fixed texts from documents parsed and
// laid out once, one for each of those texts.
//
// A QLabel parses and lays out its rich text anew after every setText(), when it next paints,
// and that layout then asks for a second paint of the same pixels. The window's status label
// changes its text with most reports. With the cache installed the label still holds its
// text, but while it shows one of the cached texts the cache paints it, the way QLabel
// paints a rich text: same document settings, placement and palette, so the same pixels. Any
// other text, and a label with a frame, a style sheet or right-to-left text, the label
// paints itself.
#pragma once

#include <QFont>
#include <QObject>
#include <QRectF>
#include <QStringList>

#include <memory>
#include <vector>

class QLabel;
class QTextDocument;

class LabelTextCache : public QObject
{
    Q_OBJECT

public:
    // Becomes a child of `label`.
    LabelTextCache(QLabel *label, const QStringList &texts);
    ~LabelTextCache() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool paintsLikeLabel() const;
    QRectF documentRect() const;
    QTextDocument *documentFor(const QString &text);
    void paint(QTextDocument *document);

    QLabel *label;
    QStringList texts;
    std::vector<std::unique_ptr<QTextDocument>> documents;   // one per text, once laid out
    // What the documents were laid out for; a change lays them out again.
    QFont laidOutFont;
    QRectF laidOutRect;
    int laidOutAlignment = 0;
};
