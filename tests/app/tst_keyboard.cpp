// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The window for the keyboard and for screen readers: what each picture button is called, and
// the keys that switch pages as the tabs do.
#include "mainwindow.h"
#include "waits.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

namespace {

const QStringList tabs = {"btn_setup", "btn_magnet", "btn_valid"};
const QStringList pages = {"frame_setup", "frame_Magnet", "frame_valid"};

struct Key
{
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
};
using Keys = QVector<Key>;

const Key ctrl1{Qt::Key_1, Qt::ControlModifier};
const Key ctrl2{Qt::Key_2, Qt::ControlModifier};
const Key ctrl3{Qt::Key_3, Qt::ControlModifier};
const Key ctrlTab{Qt::Key_Tab, Qt::ControlModifier};
// Shift+Tab as the platform delivers it.
const Key ctrlShiftTab{Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier};

} // namespace

Q_DECLARE_METATYPE(Keys)

class TestKeyboard : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();
    void names_data();
    void names();
    void pageKeys_data();
    void pageKeys();

private:
    int shownPage() const
    {
        int shown = -1;
        for (int i = 0; i < pages.size(); ++i) {
            if (window->findChild<QWidget *>(pages[i])->isVisible())
                shown = shown == -1 ? i : -2;   // -2: more than one
        }
        return shown;
    }

    QTemporaryDir workDir;   // no pictures: the buttons show nothing but their names
    QString oldDir;
    std::unique_ptr<MainWindow> window;
};

void TestKeyboard::initTestCase()
{
    QVERIFY(workDir.isValid());
    oldDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(workDir.path()));
}

void TestKeyboard::init()
{
    window.reset(new MainWindow);
    QVERIFY(showAndWait(window.get()));
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
}

void TestKeyboard::cleanup()
{
    window.reset();
}

void TestKeyboard::cleanupTestCase()
{
    QDir::setCurrent(oldDir);
}

void TestKeyboard::names_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("name");
    const char *const named[][2] = {
        {"btn_setup", "Setup"},          {"btn_magnet", "Magnetometer"},
        {"btn_valid", "Validation"},     {"btn_search", "Search"},
        {"btn_connect", "Connect"},      {"btn_start_calib", "Calibrate"},
        {"btn_save_param", "Save"},      {"btn_stationary_check", "Start check"},
        {"btn_smallest", "Minimise"},    {"btn_close", "Close"},
    };
    for (const auto &entry : named)
        QTest::newRow(entry[0]) << entry[0] << entry[1];
}

// What a screen reader announces and what the tool tip says; the button's own text, which
// would be drawn over its picture, stays empty.
void TestKeyboard::names()
{
    QFETCH(QString, button);
    QFETCH(QString, name);
    auto *widget = window->findChild<QAbstractButton *>(button);
    QVERIFY(widget);
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget);
    QVERIFY(accessible);
    QCOMPARE(accessible->text(QAccessible::Name), name);
    QCOMPARE(widget->toolTip(), name);
    QCOMPARE(widget->text(), QString());
}

void TestKeyboard::pageKeys_data()
{
    QTest::addColumn<int>("clicked");   // the tab clicked first, -1: none
    QTest::addColumn<Keys>("keys");
    QTest::addColumn<int>("page");      // the page shown after them, and the tab last pressed

    QTest::newRow("ctrl+2") << -1 << Keys{ctrl2} << 1;
    QTest::newRow("ctrl+3") << -1 << Keys{ctrl3} << 2;
    QTest::newRow("ctrl+1 after ctrl+3") << -1 << Keys{ctrl3, ctrl1} << 0;
    QTest::newRow("ctrl+1 on its own page") << -1 << Keys{ctrl1} << 0;
    QTest::newRow("ctrl+tab") << -1 << Keys{ctrlTab} << 1;
    QTest::newRow("ctrl+tab thrice comes round") << -1 << Keys{ctrlTab, ctrlTab, ctrlTab} << 0;
    QTest::newRow("ctrl+shift+tab from the first page") << -1 << Keys{ctrlShiftTab} << 2;
    QTest::newRow("ctrl+tab after ctrl+3") << -1 << Keys{ctrl3, ctrlTab} << 0;
    QTest::newRow("ctrl+tab after a click") << 1 << Keys{ctrlTab} << 2;
    QTest::newRow("ctrl+shift+tab after a click") << 2 << Keys{ctrlShiftTab} << 1;
}

// Each key presses a tab, which shows its page as a click does.
void TestKeyboard::pageKeys()
{
    QFETCH(int, clicked);
    QFETCH(Keys, keys);
    QFETCH(int, page);

    QCOMPARE(shownPage(), 0);
    if (clicked >= 0)
        QTest::mouseClick(window->findChild<QWidget *>(tabs[clicked]), Qt::LeftButton);
    QSignalSpy pressed(window->findChild<QAbstractButton *>(tabs[page]), &QAbstractButton::clicked);
    for (const Key &key : keys)
        QTest::keyClick(window.get(), key.key, key.modifiers);
    QCOMPARE(shownPage(), page);
    QVERIFY(pressed.count() >= 1);
}

QTEST_MAIN(TestKeyboard)
#include "tst_keyboard.moc"
