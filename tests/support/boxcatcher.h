// Modal message boxes: which one is up, and a catcher that records and answers each one.
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class QMessageBox;
class QWidget;

// The modal message box that is up, if any.
QMessageBox *shownMessageBox();
// Presses its OK button, or rejects it when it has none.
void answerMessageBox(QMessageBox *box);

struct BoxSeen
{
    QString title;
    QString text;
    QWidget *parent = nullptr;
};

// Watches for modal message boxes while alive, records each one, calls `onBox` and answers it.
class BoxCatcher : public QObject
{
    Q_OBJECT
public:
    explicit BoxCatcher(std::function<void()> onBox = {});
    QList<BoxSeen> seen;

private:
    void poll();
    QTimer timer;
    std::function<void()> onBox;
};
