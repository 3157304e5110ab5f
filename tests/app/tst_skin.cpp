#include "mainwindow.h"

#include <QtTest>
#include <QLabel>
#include <QPushButton>

// The window keeps its heap images private; the test reads them through this friend.
struct MainWindowProbe {
    static QList<const QImage *> images(const MainWindow &w)
    {
        return {w.imgLeftLight, w.imgMiddleLight, w.imgRightLight, w.imgPowerLight,
                w.imgBackLight, w.imgTriggerStick, w.imgRockerLight, w.imgRockerCross};
    }
};

namespace {

// Every picture the skin reads, each given its own colour so that a test can tell which file
// ended up where.
const QStringList pictureFiles = {
    "block.png", "settng-nor-03.png", "settng-nor-01.png",
    "left_light.png", "middle_light.png", "right_light.png", "power_light.png",
    "back_light.png", "trigger_stick.png", "rocker_light.png", "rocker_cross.png",
    "Setup_up.png", "Magnet_up.png", "Valid_up.png",
    "Setup_down.png", "Magnet_down.png", "Valid_down.png",
    "button_search.png", "button_connect.png", "joystick_up.png", "joystick_right.png",
    "rocker_disk.png", "trigger_progress.png", "trigger_progress_bottom.png",
    "button_calib.png", "button_save.png", "long_bar.png", "progress.png", "btn_check.png",
};

QColor colourOf(const QString &file)
{
    const int i = pictureFiles.indexOf(file);
    return i < 0 ? QColor(250, 250, 250) : QColor(10 + 8 * i, 240 - 7 * i, (60 + 53 * i) % 256);
}

void writePicture(const QString &path, QSize size, const QColor &colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QVERIFY(image.save(path));
}

QColor middleOf(const QImage &image)
{
    return image.isNull() ? QColor() : image.pixelColor(image.width() / 2, image.height() / 2);
}

QColor faceOf(const QPushButton *button)
{
    return middleOf(button->icon().pixmap(button->iconSize()).toImage());
}

QColor pictureOf(const QLabel *label)
{
    return middleOf(label->pixmap(Qt::ReturnByValue).toImage());
}

} // namespace

class TestSkin : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void picturesGoToTheirWidgets_data();
    void picturesGoToTheirWidgets();
    void heapImages();
    void pageSwitching_data();
    void pageSwitching();
    void missingPictures_data();
    void missingPictures();

private:
    MainWindow *makeWindow(bool withPictures, bool withBackground);

    QTemporaryDir *workDir = nullptr;
    QString oldDir;
    MainWindow *w = nullptr;
};

void TestSkin::init()
{
    oldDir = QDir::currentPath();
    workDir = new QTemporaryDir;
    QVERIFY(workDir->isValid());
    QVERIFY(QDir::setCurrent(workDir->path()));
}

void TestSkin::cleanup()
{
    delete w;
    w = nullptr;
    QDir::setCurrent(oldDir);
    delete workDir;
    workDir = nullptr;
}

MainWindow *TestSkin::makeWindow(bool withPictures, bool withBackground)
{
    if (withPictures || withBackground)
        QDir().mkdir(QStringLiteral("image"));
    if (withPictures) {
        for (const QString &file : pictureFiles)
            writePicture(QStringLiteral("image/") + file, QSize(12, 8), colourOf(file));
        writePicture(QStringLiteral("image/logo.bmp"), QSize(16, 16), QColor(200, 30, 90));
    }
    if (withBackground)
        writePicture(QStringLiteral("image/background.png"), QSize(800, 580), QColor(37, 59, 74));
    w = new MainWindow;
    return w;
}

void TestSkin::picturesGoToTheirWidgets_data()
{
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QString>("file");
    const char *const pairs[][2] = {
        {"lab_block", "block.png"}, {"btn_close", "settng-nor-03.png"},
        {"btn_smallest", "settng-nor-01.png"}, {"btn_setup", "Setup_down.png"},
        {"btn_magnet", "Magnet_up.png"}, {"btn_valid", "Valid_up.png"},
        {"btn_search", "button_search.png"}, {"btn_connect", "button_connect.png"},
        {"lab_joy_up", "joystick_up.png"}, {"lab_joy_right", "joystick_right.png"},
        {"lab_rocker_disk", "rocker_disk.png"}, {"lab_trigger_progress", "trigger_progress.png"},
        {"lab_trigger_progress_bottom", "trigger_progress_bottom.png"},
        {"lab_rocker_cross", "rocker_cross.png"}, {"btn_start_calib", "button_calib.png"},
        {"btn_save_param", "button_save.png"}, {"lab_block_x", "long_bar.png"},
        {"lab_block_y", "long_bar.png"}, {"lab_block_z", "long_bar.png"},
        {"lab_check_progress", "progress.png"}, {"btn_stationary_check", "btn_check.png"},
    };
    for (const auto &pair : pairs)
        QTest::newRow(pair[0]) << pair[0] << pair[1];
}

void TestSkin::picturesGoToTheirWidgets()
{
    QFETCH(QString, widget);
    QFETCH(QString, file);
    makeWindow(true, true);

    const QColor expected = colourOf(file);
    if (auto *button = w->findChild<QPushButton *>(widget))
        QCOMPARE(faceOf(button), expected);
    else if (auto *label = w->findChild<QLabel *>(widget))
        QCOMPARE(pictureOf(label), expected);
    else
        QFAIL("no such widget");

    // The background sets the window's size and face; the icon comes from logo.bmp.
    QCOMPARE(w->size(), QSize(800, 580));
    QCOMPARE(w->palette().brush(QPalette::Inactive, QPalette::Window).texture().size(),
             QSize(800, 580));
    const QColor logo(200, 30, 90);
    QCOMPARE(middleOf(w->windowIcon().pixmap(16, QIcon::Normal, QIcon::Off).toImage()), logo);
    QCOMPARE(middleOf(w->windowIcon().pixmap(16, QIcon::Normal, QIcon::On).toImage()), logo);
}

void TestSkin::heapImages()
{
    makeWindow(true, false);
    const QStringList files = {"left_light.png", "middle_light.png", "right_light.png",
                               "power_light.png", "back_light.png", "trigger_stick.png",
                               "rocker_light.png", "rocker_cross.png"};
    const QList<const QImage *> images = MainWindowProbe::images(*w);
    QCOMPARE(images.size(), files.size());
    for (int i = 0; i < files.size(); ++i) {
        QVERIFY(images[i]);
        QCOMPARE(middleOf(*images[i]), colourOf(files[i]));
    }
    // The magnetometer captions are white on the dark face.
    for (const char *name : {"lab_mag_x", "lab_mag_y", "lab_mag_z"}) {
        auto *label = w->findChild<QLabel *>(QString::fromLatin1(name));
        QCOMPARE(label->palette().color(QPalette::Active, QPalette::WindowText), QColor(Qt::white));
        QCOMPARE(label->palette().color(QPalette::Disabled, QPalette::WindowText),
                 QColor(Qt::white));
    }
}

void TestSkin::pageSwitching_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    const QStringList tabs = {"btn_setup", "btn_magnet", "btn_valid"};
    for (const QString &from : tabs) {
        for (const QString &to : tabs)
            QTest::newRow(qPrintable(from + " to " + to)) << from << to;
    }
}

void TestSkin::pageSwitching()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    makeWindow(true, true);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));

    const QStringList tabs = {"btn_setup", "btn_magnet", "btn_valid"};
    const QStringList frames = {"frame_setup", "frame_Magnet", "frame_valid"};
    const QStringList faces = {"Setup", "Magnet", "Valid"};

    auto check = [&](const QString &current) {
        const int shown = tabs.indexOf(current);
        for (int i = 0; i < 3; ++i) {
            auto *frame = w->findChild<QWidget *>(frames[i]);
            QCOMPARE(frame->isVisible(), i == shown);
            QCOMPARE(frame->geometry(), QRect(28, 111, 743, 445));
            const QString face = faces[i] + (i == shown ? "_down.png" : "_up.png");
            QCOMPARE(faceOf(w->findChild<QPushButton *>(tabs[i])), colourOf(face));
        }
    };

    check(QStringLiteral("btn_setup"));   // the setup page is up at start
    w->findChild<QPushButton *>(from)->click();
    check(from);
    w->findChild<QPushButton *>(to)->click();
    check(to);
    QVERIFY(w->findChild<QWidget *>(QStringLiteral("lab_status"))->isVisible());
}

void TestSkin::missingPictures_data()
{
    QTest::addColumn<bool>("withPictures");
    QTest::addColumn<bool>("withBackground");
    QTest::addColumn<QSize>("size");
    QTest::newRow("no image folder") << false << false << QSize(1045, 697);
    QTest::newRow("only background.png missing") << true << false << QSize(1045, 697);
    QTest::newRow("only background.png present") << false << true << QSize(800, 580);
}

void TestSkin::missingPictures()
{
    QFETCH(bool, withPictures);
    QFETCH(bool, withBackground);
    QFETCH(QSize, size);
    makeWindow(withPictures, withBackground);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QCOMPARE(w->size(), size);

    if (!withPictures) {
        for (const QLabel *label : w->findChildren<QLabel *>())
            QVERIFY2(label->pixmap(Qt::ReturnByValue).isNull(), qPrintable(label->objectName()));
        for (const QPushButton *button : w->findChildren<QPushButton *>())
            QVERIFY2(button->icon().isNull(), qPrintable(button->objectName()));
        for (const QImage *image : MainWindowProbe::images(*w))
            QVERIFY(image && image->isNull());
    }
    // The widgets and their texts are there all the same.
    QCOMPARE(w->findChild<QLabel *>(QStringLiteral("lab_mag_x"))->text(),
             QStringLiteral("Magnetometer_X"));
    QVERIFY(w->findChild<QWidget *>(QStringLiteral("glwg_rotation"))->isVisible());
}

QTEST_MAIN(TestSkin)
#include "tst_skin.moc"
