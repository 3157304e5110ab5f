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

BoxCatcher::BoxCatcher(std::function<void()> onBox)
    : onBox(std::move(onBox))
{
    connect(&timer, &QTimer::timeout, this, &BoxCatcher::poll);
    timer.start(5);
}

void BoxCatcher::poll()
{
    QMessageBox *box = shownMessageBox();
    if (!box)
        return;
    seen.append({box->windowTitle(), box->text(), box->parentWidget()});
    if (onBox)
        onBox();
    answerMessageBox(box);
}
