#include "mainwindow.h"

#include <QtTest>

namespace {

// Mouse events are sent to the widget under the cursor, as the platform would; those it
// ignores travel up to the window.
void send(QWidget *target, QEvent::Type type, QPoint global, Qt::MouseButton button,
          Qt::MouseButtons held)
{
    const QPoint local = target->mapFromGlobal(global);
    QMouseEvent event(type, local, local, global, button, held, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

} // namespace

class TestWindowDrag : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void pressThenMove_data();
    void pressThenMove();
    void releaseEndsDrag_data();
    void releaseEndsDrag();

private:
    QTemporaryDir workDir;
    QString oldDir;
    MainWindow *w = nullptr;
};

void TestWindowDrag::initTestCase()
{
    QVERIFY(workDir.isValid());
    oldDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(workDir.path()));
}

void TestWindowDrag::cleanupTestCase()
{
    QDir::setCurrent(oldDir);
}

void TestWindowDrag::init()
{
    w = new MainWindow;
    w->move(100, 80);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QTRY_COMPARE(w->pos(), QPoint(100, 80));
}

void TestWindowDrag::cleanup()
{
    delete w;
    w = nullptr;
}

void TestWindowDrag::pressThenMove_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("pressed");
    QTest::addColumn<int>("heldWhileMoving");
    QTest::addColumn<bool>("moves");

    const int left = Qt::LeftButton;
    QTest::newRow("left on background") << "centralWidget" << left << left << true;
    QTest::newRow("left on page frame") << "frame_setup" << left << left << true;
    QTest::newRow("left on picture label") << "lab_joy_up" << left << left << true;
    QTest::newRow("left on status label") << "lab_status" << left << left << true;
    QTest::newRow("left on 3-D view") << "glwg_rotation" << left << left << true;
    QTest::newRow("right on background") << "frame_setup" << int(Qt::RightButton)
                                         << int(Qt::RightButton) << false;
    QTest::newRow("middle on background") << "frame_setup" << int(Qt::MiddleButton)
                                          << int(Qt::MiddleButton) << false;
    QTest::newRow("left on action button") << "btn_search" << left << left << false;
    QTest::newRow("left on page tab") << "btn_magnet" << left << left << false;
    QTest::newRow("left on combo box") << "comboBox" << left << left << false;
    QTest::newRow("left press, move with nothing held")
        << "frame_setup" << left << int(Qt::NoButton) << false;
}

void TestWindowDrag::pressThenMove()
{
    QFETCH(QString, target);
    QFETCH(int, pressed);
    QFETCH(int, heldWhileMoving);
    QFETCH(bool, moves);

    auto *widget = w->findChild<QWidget *>(target);
    QVERIFY(widget);
    const QPoint start = w->pos();
    const QPoint press = start + widget->mapTo(w, widget->rect().center());
    const QPoint grabbed = press - start;

    send(widget, QEvent::MouseButtonPress, press, Qt::MouseButton(pressed), Qt::MouseButtons(pressed));
    const QPoint steps[] = {press + QPoint(37, 23), press + QPoint(-60, 15)};
    for (const QPoint &cursor : steps) {
        send(widget, QEvent::MouseMove, cursor, Qt::NoButton, Qt::MouseButtons(heldWhileMoving));
        if (moves)
            QCOMPARE(cursor - w->pos(), grabbed);   // the grabbed point stays under the cursor
        else
            QCOMPARE(w->pos(), start);
    }
}

void TestWindowDrag::releaseEndsDrag_data()
{
    QTest::addColumn<int>("released");
    QTest::newRow("left") << int(Qt::LeftButton);
    QTest::newRow("right") << int(Qt::RightButton);
    QTest::newRow("middle") << int(Qt::MiddleButton);
}

void TestWindowDrag::releaseEndsDrag()
{
    QFETCH(int, released);
    QWidget *background = w->centralWidget();
    const QPoint press = w->pos() + QPoint(20, 600);

    send(background, QEvent::MouseButtonPress, press, Qt::LeftButton, Qt::LeftButton);
    send(background, QEvent::MouseMove, press + QPoint(10, 10), Qt::NoButton, Qt::LeftButton);
    const QPoint dropped = w->pos();
    QCOMPARE(dropped, QPoint(110, 90));

    send(background, QEvent::MouseButtonRelease, press + QPoint(10, 10), Qt::MouseButton(released),
         Qt::MouseButtons(Qt::LeftButton & ~released));
    // Even with the left button still held, nothing moves until a new left press.
    send(background, QEvent::MouseMove, press + QPoint(50, 40), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(w->pos(), dropped);
}

QTEST_MAIN(TestWindowDrag)
#include "tst_windowdrag.moc"
