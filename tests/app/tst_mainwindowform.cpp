#include "mainwindow.h"
#include "skin.h"

#include <QAbstractItemView>
#include <QComboBox>

#include <QtTest>
#include <QLabel>
#include <QPushButton>

namespace {
// Each tab picture gets its own colour, so a test can tell which one a button shows.
QColor tabColour(int tab, bool down) { return QColor(40 * tab + 20, down ? 200 : 60, 90); }

QColor faceOf(const QPushButton *button)
{
    const QImage image = button->icon().pixmap(button->iconSize()).toImage();
    return image.isNull() ? QColor() : image.pixelColor(image.width() / 2, image.height() / 2);
}

// Sent to the widget under the cursor, as the platform would; what it ignores goes up to the
// window.
void send(QWidget *target, QEvent::Type type, QPoint global, Qt::MouseButton button,
          Qt::MouseButtons held)
{
    const QPoint local = target->mapFromGlobal(global);
    QMouseEvent event(type, local, local, global, button, held, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}
} // namespace

class TestMainWindowForm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void window();
    void widgets_data();
    void widgets();
    void styleSheets_data();
    void styleSheets();
    void pageSwitching();
    void dropDownContrast();
    void pictureFolder();
    void drag_data();
    void drag();

private:
    QTemporaryDir workDir;
    QString oldDir;
    MainWindow *w = nullptr;
};

void TestMainWindowForm::initTestCase()
{
    // An empty working directory: the window runs without any of its pictures.
    QVERIFY(workDir.isValid());
    oldDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(workDir.path()));
    w = new MainWindow;
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
}

void TestMainWindowForm::cleanupTestCase()
{
    delete w;
    QDir::setCurrent(oldDir);
}

void TestMainWindowForm::window()
{
    QCOMPARE(w->windowTitle(), QStringLiteral("IMU Calibration Tool"));
    QVERIFY(w->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(w->size(), QSize(1045, 697));
    QCOMPARE(w->centralWidget()->objectName(), QStringLiteral("centralWidget"));
}

void TestMainWindowForm::widgets_data()
{
    // Per parent, its widgets from bottom to top: name, class, geometry, text.
    QTest::addColumn<QStringList>("children");
    const QString status = "<html><head/><body><p><span style=\" font-size:6pt; color:#d4d4d4;\">"
                           "Status:Unconnected!</span></p></body></html>";
    const QString count = "<html><head/><body><p><span style=\" color:#d4d4d4;\">100%</span></p></body></html>";
    QTest::newRow("centralWidget") << QStringList{
        "lab_block QLabel 28,111 743x445 ", "frame_setup QFrame 28,111 743x445 ",
        "btn_smallest QPushButton 715,15 35x20 ", "btn_close QPushButton 750,15 35x20 ",
        "btn_setup QPushButton 28,84 70x28 ", "btn_magnet QPushButton 98,84 114x28 ",
        "btn_valid QPushButton 212,84 93x28 ", "frame_Magnet QFrame 28,111 743x445 ",
        "frame_valid QFrame 28,111 743x445 ", "lab_status QLabel 55,470 200x25 " + status};
    QTest::newRow("frame_setup") << QStringList{
        "lab_joy_up QLabel 25,-10 120x375 ", "lab_joy_right QLabel 105,-10 158x375 ",
        "btn_connect QPushButton 410,400 101x32 ", "btn_search QPushButton 210,400 101x32 ",
        "comboBox QComboBox 25,325 200x25 ", "glwg_rotation DisplayGL 365,50 350x300 ",
        "lab_light_left QLabel 39,88 20x43 ", "lab_light_middle QLabel 53,101 13x16 ",
        "lab_light_right QLabel 66,100 14x17 ", "lab_light_power QLabel 50,150 18x16 ",
        "lab_light_back QLabel 137,139 13x19 ", "lab_rocker_disk QLabel 250,50 91x92 ",
        "lab_trigger_progress QLabel 250,190 92x161 ", "lab_rocker_cross QLabel 287,87 17x18 ",
        "lab_trigger_stick QLabel 111,92 29x41 ", "lab_rocker_light QLabel 48,120 22x22 ",
        "lab_trigger_progress_bottom QLabel 250,348 92x4 "};
    QTest::newRow("frame_Magnet") << QStringList{
        "btn_start_calib QPushButton 210,400 101x32 ", "btn_save_param QPushButton 410,400 101x32 ",
        "lab_block_x QLabel 80,80 80x260 ", "lab_block_y QLabel 330,80 80x260 ",
        "lab_block_z QLabel 580,80 80x260 ", "lab_mag_x QLabel 50,20 135x30 Magnetometer_X",
        "lab_mag_y QLabel 300,20 135x30 Magnetometer_Y", "lab_mag_z QLabel 550,20 135x30 Magnetometer_Z",
        "lab_max_x QLabel 80,60 80x20 0", "lab_max_y QLabel 330,60 80x20 0",
        "lab_max_z QLabel 580,60 80x20 0", "lab_min_x QLabel 80,340 80x20 -0",
        "lab_min_y QLabel 330,340 80x20 -0", "lab_min_z QLabel 580,340 80x20 -0",
        "lab_magdata_x QLabel 80,200 80x20 0", "lab_magdata_y QLabel 330,200 80x20 0",
        "lab_magdata_z QLabel 580,200 80x20 0"};
    QTest::newRow("frame_valid") << QStringList{
        "btn_stationary_check QPushButton 280,250 212x89 ", "lab_check_progress QLabel 50,100 655x61 ",
        "lab_count QLabel 562,95 150x61 " + count};
}

void TestMainWindowForm::widgets()
{
    QFETCH(QStringList, children);
    const auto parents = w->findChildren<QWidget *>(QString::fromLatin1(QTest::currentDataTag()));
    QCOMPARE(parents.size(), 1);
    QStringList got;
    for (QObject *child : parents.first()->children()) {
        auto *widget = qobject_cast<QWidget *>(child);
        if (!widget || widget->objectName().startsWith(QLatin1String("qt_")))
            continue;
        QCOMPARE(w->findChildren<QWidget *>(widget->objectName()).size(), 1);
        const QRect r = widget->geometry();
        QString text;
        if (auto *button = qobject_cast<QPushButton *>(widget))
            text = button->text();
        if (auto *label = qobject_cast<QLabel *>(widget))
            text = label->text();
        got << QStringLiteral("%1 %2 %3,%4 %5x%6 %7").arg(widget->objectName(), widget->metaObject()->className())
                   .arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()).arg(text);
    }
    QCOMPARE(got, children);
}

void TestMainWindowForm::styleSheets_data()
{
    QTest::addColumn<QStringList>("widgets");
    QTest::addColumn<QString>("sheet");

    const QString tail = "/*border-radius: 1px;font: bold 4px;min-width: 10em;padding: 2px;*/}";
    const QString clear = "background-color:rgba(255, 255, 255, 0);border-style: solid;border-width: 0px;";
    const QString dim = "background-color:rgba(255, 255, 255, 0.1);border-style: solid;border-width: 0px;";
    const QString border = "border-color: rgba(255, 255, 255, 0);";
    auto run = [](int tabs, int spaces) { return QString(tabs, '\t') + QString(spaces, ' '); };
    QTest::newRow("lab_block") << QStringList{"lab_block"} << "QLabel{" + dim + run(0, 35) + border + tail;
    QTest::newRow("btn_setup") << QStringList{"btn_setup", "btn_valid"} << "QPushButton{" + dim + run(0, 33) + border + tail;
    QTest::newRow("btn_magnet") << QStringList{"btn_magnet"} << "QPushButton{" + dim + run(0, 34) + border + tail;
    QTest::newRow("btn_search") << QStringList{"btn_search"} << "QPushButton{" + clear + run(8, 1) + border + "}";
    QTest::newRow("btn_connect") << QStringList{"btn_connect"} << "QPushButton{" + clear + run(8, 2) + border + "}";
    QTest::newRow("comboBox") << QStringList{"comboBox"} << "QComboBox{color:#d4d4d4;" + dim + run(8, 1) + border + tail;
    QTest::newRow("btn_start_calib") << QStringList{"btn_start_calib"} << "QPushButton{" + clear + run(8, 1) + border + tail;
    QTest::newRow("btn_save_param") << QStringList{"btn_save_param"} << "QPushButton{" + clear + run(9, 3) + border + tail;
    QTest::newRow("btn_stationary_check") << QStringList{"btn_stationary_check"} << "QPushButton{" + clear + run(9, 2) + border + tail;
    QTest::newRow("lab_max_x") << QStringList{"lab_max_x"} << "QLabel{color:#d4d4d4;" + clear + run(8, 3) + border + "}";
    QTest::newRow("lab_max_y") << QStringList{"lab_max_y", "lab_max_z", "lab_min_x", "lab_min_y", "lab_min_z"} << "QLabel{color:#d4d4d4;" + clear + run(8, 1) + border + "}";
    QTest::newRow("lab_magdata_x") << QStringList{"lab_magdata_x"} << "QLabel{color:#7d7d7d;" + clear + run(8, 1) + border + "}";
    QTest::newRow("lab_magdata_y") << QStringList{"lab_magdata_y", "lab_magdata_z"} << "QLabel{color:#7d7d7d;" + clear + run(9, 1) + border + "}";
    QTest::newRow("unstyled") << QStringList{"btn_close", "frame_setup", "lab_status", "lab_count"} << QString();
}

void TestMainWindowForm::styleSheets()
{
    QFETCH(QStringList, widgets);
    QFETCH(QString, sheet);
    for (const QString &name : widgets) {
        auto *widget = w->findChild<QWidget *>(name);
        QVERIFY2(widget, qPrintable(name));
        QCOMPARE(widget->styleSheet(), sheet);
    }
}

// WCAG contrast ratio of two colours.
static double contrast(const QColor &a, const QColor &b)
{
    auto luminance = [](const QColor &c) {
        auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

void TestMainWindowForm::dropDownContrast()
{
    // The open list as drawn: in each entry's row, the text's strongest pixel against the
    // row's background, for the chosen entry and for a plain one.
    auto *combo = w->findChild<QComboBox *>("comboBox");
    combo->addItems({"00025B0A1C01", "00025B0A1C02"});
    combo->showPopup();
    QAbstractItemView *view = combo->view();
    QVERIFY(QTest::qWaitForWindowExposed(view->window()));
    const QImage image = view->viewport()->grab().toImage();
    for (int row = 0; row < 2; ++row) {
        const QRect r = view->visualRect(view->model()->index(row, 0)) & image.rect();
        const QColor background = image.pixelColor(r.left() + 1, r.center().y());
        double best = 1.0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                best = std::max(best, contrast(image.pixelColor(x, y), background));
        QVERIFY2(best >= 4.5, qPrintable(QString("row %1: %2:1").arg(row).arg(best)));
    }
    combo->hidePopup();
    combo->clear();
}

void TestMainWindowForm::pictureFolder()
{
    // An installed tool started where there is no ./image takes the installed pictures.
    QTemporaryDir root;
    QVERIFY(QDir(root.path()).mkpath("bin") && QDir(root.path()).mkpath("work/image")
            && QDir(root.path()).mkpath("share/imu-calibration-tool/image"));
    const QString bin = root.path() + "/bin", work = root.path() + "/work";
    const QString installed = QDir(root.path()).canonicalPath() + "/share/imu-calibration-tool/image/";
    QCOMPARE(Skin::pictureFolder(work, bin), QStringLiteral("./image/"));   // neither has any
    QFile(installed + "background.png").open(QIODevice::WriteOnly);
    QCOMPARE(Skin::pictureFolder(work, bin), installed);
    QFile(work + "/image/background.png").open(QIODevice::WriteOnly);
    QCOMPARE(Skin::pictureFolder(work, bin), QStringLiteral("./image/"));
}

void TestMainWindowForm::pageSwitching()
{
    const QStringList tabs = {"btn_setup", "btn_magnet", "btn_valid"};
    const QStringList frames = {"frame_setup", "frame_Magnet", "frame_valid"};
    const QStringList faces = {"Setup", "Magnet", "Valid"};
    QTemporaryDir pictureDir;
    QVERIFY(QDir::setCurrent(pictureDir.path()));
    auto back = qScopeGuard([this] { QDir::setCurrent(workDir.path()); });
    QDir().mkdir(QStringLiteral("image"));
    for (int i = 0; i < 3; ++i) {
        for (bool down : {false, true}) {
            QImage image(12, 8, QImage::Format_RGB32);
            image.fill(tabColour(i, down));
            QVERIFY(image.save("image/" + faces[i] + (down ? "_down.png" : "_up.png")));
        }
    }
    MainWindow skinned;
    skinned.show();
    QVERIFY(QTest::qWaitForWindowExposed(&skinned));

    auto check = [&](int shown) {
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(skinned.findChild<QWidget *>(frames[i])->isVisible(), i == shown);
            QCOMPARE(faceOf(skinned.findChild<QPushButton *>(tabs[i])), tabColour(i, i == shown));
        }
    };
    check(0);   // the setup page is up at start
    for (int tab : {1, 0, 2, 2, 1}) {
        skinned.findChild<QPushButton *>(tabs[tab])->click();
        check(tab);
    }
}

void TestMainWindowForm::drag_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("releaseFirst");
    QTest::addColumn<bool>("moves");

    const int left = Qt::LeftButton;
    QTest::newRow("left on background") << "centralWidget" << left << false << true;
    QTest::newRow("left on 3-D view") << "glwg_rotation" << left << false << true;
    QTest::newRow("right") << "frame_setup" << int(Qt::RightButton) << false << false;
    QTest::newRow("middle") << "frame_setup" << int(Qt::MiddleButton) << false << false;
    QTest::newRow("left on push button") << "btn_search" << left << false << false;
    QTest::newRow("left on combo box") << "comboBox" << left << false << false;
    QTest::newRow("release ends the drag") << "centralWidget" << left << true << false;
}

void TestMainWindowForm::drag()
{
    QFETCH(QString, target);
    QFETCH(int, button);
    QFETCH(bool, releaseFirst);
    QFETCH(bool, moves);

    MainWindow dragged;
    dragged.move(100, 80);
    dragged.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dragged));
    QTRY_COMPARE(dragged.pos(), QPoint(100, 80));
    auto *widget = dragged.findChild<QWidget *>(target);
    QVERIFY(widget);
    const QPoint start = dragged.pos();
    const QPoint press = start + widget->mapTo(&dragged, widget->rect().center());
    const auto held = Qt::MouseButtons(button);
    send(widget, QEvent::MouseButtonPress, press, Qt::MouseButton(button), held);
    if (releaseFirst)
        send(widget, QEvent::MouseButtonRelease, press, Qt::MouseButton(button), Qt::NoButton);
    // Moves with the button still reported held: only an unreleased left press drags, and the
    // grabbed point stays under the cursor.
    for (const QPoint &cursor : {press + QPoint(37, 23), press + QPoint(-60, 15)}) {
        send(widget, QEvent::MouseMove, cursor, Qt::NoButton, held);
        QCOMPARE(dragged.pos(), moves ? cursor - (press - start) : start);
    }
}

QTEST_MAIN(TestMainWindowForm)
#include "tst_mainwindowform.moc"
