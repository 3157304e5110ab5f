// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "boxcatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

QMessageBox *shownMessageBox()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    return box && box->isVisible() ? box : nullptr;
}

void answerMessageBox(QMessageBox *box)
{
    if (QAbstractButton *ok = box->button(QMessageBox::Ok))
        ok->click();
    else
        box->reject();
}

bool clickMessageBoxButton(const QString &text)
{
    QMessageBox *box = shownMessageBox();
    if (!box)
        return false;
    for (QAbstractButton *button : box->buttons()) {
        if (button->text() == text) {
            button->click();
            return true;
        }
    }
    return false;
}

BoxCatcher::BoxCatcher(std::function<void()> onBox, Gate gate)
    : onBox(std::move(onBox)), gate(gate)
{
    connect(&timer, &QTimer::timeout, this, &BoxCatcher::poll);
    timer.start(5);
}

void BoxCatcher::poll()
{
    QMessageBox *box = shownMessageBox();
    if (!box)
        return;
    if (gate == SaveAnyway && clickMessageBoxButton(QStringLiteral("Save anyway")))
        return;
    seen.append({box->windowTitle(), box->text(), box->parentWidget()});
    if (onBox)
        onBox();
    answerMessageBox(box);
}
