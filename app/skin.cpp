// The window's skin: pictures from ./image, palettes, style sheets, and the page buttons.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "skin.h"

#include <QAbstractItemView>
#include <QBrush>
#include <QCoreApplication>
#include <QDir>
#include <QIcon>
#include <QImage>
#include <QPalette>

#include <utility>

namespace {

// Style sheets that take the frame off the buttons and labels so the background picture shows
// through. Several differ only in the run of blanks before "border-color", which the style
// sheet parser skips: they draw alike.
const char sheetA[] =
    "QLabel{background-color:rgba(255, 255, 255, 0.1);border-style: solid;border-width: 0px;"
    "                                   " // 35 blanks
    "border-color: rgba(255, 255, 255, 0);/*border-radius: 1px;font: bold 4px;min-width: 10em;padding: 2px;*/}";
const char sheetB[] =
    "QPushButton{background-color:rgba(255, 255, 255, 0.1);border-style: solid;border-width: 0px;"
    "                                 " // 33 blanks
    "border-color: rgba(255, 255, 255, 0);/*border-radius: 1px;font: bold 4px;min-width: 10em;padding: 2px;*/}";
const char sheetC[] =
    "QPushButton{background-color:rgba(255, 255, 255, 0.1);border-style: solid;border-width: 0px;"
    "                                  " // 34 blanks
    "border-color: rgba(255, 255, 255, 0);/*border-radius: 1px;font: bold 4px;min-width: 10em;padding: 2px;*/}";
const char sheetD[] =
    "QPushButton{background-color:rgba(255, 255, 255, 0);border-style: solid;border-width: 0px;"
    "\t\t\t\t\t\t\t\t " // 8 tabs, 1 blank
    "border-color: rgba(255, 255, 255, 0);}";
const char sheetE[] =
    "QPushButton{background-color:rgba(255, 255, 255, 0);border-style: solid;border-width: 0px;"
    "\t\t\t\t\t\t\t\t  " // 8 tabs, 2 blanks
    "border-color: rgba(255, 255, 255, 0);}";
const char sheetF[] =
    "QComboBox{color:#d4d4d4;background-color:rgba(255, 255, 255, 0.1);border-style: solid;border-width: 0px;"
    "\t\t\t\t\t\t\t\t " // 8 tabs, 1 blank
    "border-color: rgba(255, 255, 255, 0);/*border-radius: 1px;font: bold 4px;min-width: 10em;padding: 2px;*/}";
const char sheetG[] =
    "QPushButton{background-color:rgba(255, 255, 255, 0);border-style: solid;border-width: 0px;"
    "\t\t\t\t\t\t\t\t " // 8 tabs, 1 blank
    "border-color: rgba(255, 255, 255, 0);/*border-radius: 1px;font: bold 4px;min-width: 10em;padding: 2px;*/}";
const char sheetH[] =
    "QPushButton{background-color:rgba(255, 255, 255, 0);border-style: solid;border-width: 0px;"
    "\t\t\t\t\t\t\t\t\t   " // 9 tabs, 3 blanks
    "border-color: rgba(255, 255, 255, 0);/*border-radius: 1px;font: bold 4px;min-width: 10em;padding: 2px;*/}";
const char sheetI[] =
    "QPushButton{background-color:rgba(255, 255, 255, 0);border-style: solid;border-width: 0px;"
    "\t\t\t\t\t\t\t\t\t  " // 9 tabs, 2 blanks
    "border-color: rgba(255, 255, 255, 0);/*border-radius: 1px;font: bold 4px;min-width: 10em;padding: 2px;*/}";
const char sheetJ[] =
    "QLabel{color:#d4d4d4;background-color:rgba(255, 255, 255, 0);border-style: solid;border-width: 0px;"
    "\t\t\t\t\t\t\t\t   " // 8 tabs, 3 blanks
    "border-color: rgba(255, 255, 255, 0);}";
const char sheetK[] =
    "QLabel{color:#d4d4d4;background-color:rgba(255, 255, 255, 0);border-style: solid;border-width: 0px;"
    "\t\t\t\t\t\t\t\t " // 8 tabs, 1 blank
    "border-color: rgba(255, 255, 255, 0);}";
const char sheetL[] =
    "QLabel{color:#7d7d7d;background-color:rgba(255, 255, 255, 0);border-style: solid;border-width: 0px;"
    "\t\t\t\t\t\t\t\t " // 8 tabs, 1 blank
    "border-color: rgba(255, 255, 255, 0);}";
const char sheetM[] =
    "QLabel{color:#7d7d7d;background-color:rgba(255, 255, 255, 0);border-style: solid;border-width: 0px;"
    "\t\t\t\t\t\t\t\t\t " // 9 tabs, 1 blank
    "border-color: rgba(255, 255, 255, 0);}";

// The drop-down's open list: light text on the skin's dark slate, the chosen entry in the
// skin's cyan with dark text. The combo box's own sheet leaves the list on the platform's light
// base, where its light grey text cannot be read.
const char sheetList[] =
    "QAbstractItemView{color:#d4d4d4;background-color:#1d2a32;border: 1px solid #3b4f5c;"
    "selection-color:#0b161c;selection-background-color:#33c5dc;outline: 0px;}";

QString picture(const char *name)
{
    static const QString folder =
            Skin::pictureFolder(QDir::currentPath(), QCoreApplication::applicationDirPath());
    return folder + QLatin1String(name);
}

} // namespace

QString Skin::pictureFolder(const QString &workingDir, const QString &applicationDir)
{
    const QStringList pictures{QStringLiteral("*.png"), QStringLiteral("*.bmp")};
    QString local = QStringLiteral("./image/");
    if (!QDir(workingDir + QStringLiteral("/image")).entryList(pictures, QDir::Files).isEmpty())
        return local;
    // An installed tool keeps its pictures in <prefix>/share, beside its <prefix>/bin.
    const QDir installed(applicationDir + QStringLiteral("/../share/imu-calibration-tool/image"));
    if (!installed.entryList(pictures, QDir::Files).isEmpty())
        return installed.canonicalPath() + QLatin1Char('/');
    return local;
}

void MainWindow::initSkin()
{
    // The window takes its size from the background. Without that picture the form's own size
    // stays, so the widgets remain visible on the plain palette.
    const QPixmap background(picture("background.png"));
    if (!background.isNull()) {
        resize(background.size());
        QPalette windowPalette = palette();
        windowPalette.setBrush(QPalette::Window, QBrush(background));
        setPalette(windowPalette);
    }
    setWindowFlags(Qt::FramelessWindowHint);
    // The form names the icon relative to the working directory; an installed tool started
    // elsewhere finds it beside its other pictures.
    if (windowIcon().availableSizes().isEmpty())
        setWindowIcon(QIcon(picture("logo.bmp")));

    ui->lab_block->setPixmap(QPixmap(picture("block.png")));
    ui->lab_block->setStyleSheet(sheetA);

    ui->btn_close->setIcon(QIcon(QPixmap(picture("settng-nor-03.png"))));
    ui->btn_smallest->setIcon(QIcon(QPixmap(picture("settng-nor-01.png"))));

    const std::pair<QLabel *, const char *> lightPictures[LightCount] = {
        {ui->lab_light_right, "right_light.png"},   {ui->lab_light_back, "back_light.png"},
        {ui->lab_light_middle, "middle_light.png"}, {ui->lab_light_left, "left_light.png"},
        {ui->lab_light_power, "power_light.png"},   {ui->lab_trigger_stick, "trigger_stick.png"},
        {ui->lab_rocker_light, "rocker_light.png"},
    };
    for (size_t i = 0; i < LightCount; ++i)
        lights[i] = {lightPictures[i].first, QPixmap::fromImage(QImage(picture(lightPictures[i].second)))};

    pixSetupUp.load(picture("Setup_up.png"));
    pixMagnetUp.load(picture("Magnet_up.png"));
    pixValidUp.load(picture("Valid_up.png"));
    pixSetupDown.load(picture("Setup_down.png"));
    pixMagnetDown.load(picture("Magnet_down.png"));
    pixValidDown.load(picture("Valid_down.png"));
    ui->btn_setup->setIcon(QIcon(pixSetupDown));
    ui->btn_magnet->setIcon(QIcon(pixMagnetUp));
    ui->btn_valid->setIcon(QIcon(pixValidUp));
    ui->btn_setup->setStyleSheet(sheetB);
    ui->btn_magnet->setStyleSheet(sheetC);
    ui->btn_valid->setStyleSheet(sheetB);

    pixSearch.load(picture("button_search.png"));
    pixConnect.load(picture("button_connect.png"));
    ui->btn_search->setIcon(QIcon(pixSearch));
    ui->btn_connect->setIcon(QIcon(pixConnect));
    ui->btn_search->setStyleSheet(sheetD);
    ui->btn_connect->setStyleSheet(sheetE);

    pixJoystickUp.load(picture("joystick_up.png"));
    pixJoystickRight.load(picture("joystick_right.png"));
    pixRockerDisk.load(picture("rocker_disk.png"));
    pixTriggerProgress.load(picture("trigger_progress.png"));
    pixTriggerProgressBottom.load(picture("trigger_progress_bottom.png"));
    ui->lab_joy_up->setPixmap(pixJoystickUp);
    ui->lab_joy_right->setPixmap(pixJoystickRight);
    ui->lab_rocker_disk->setPixmap(pixRockerDisk);
    ui->lab_trigger_progress->setPixmap(pixTriggerProgress);
    ui->lab_trigger_progress_bottom->setPixmap(pixTriggerProgressBottom);
    ui->lab_rocker_cross->setPixmap(QPixmap::fromImage(QImage(picture("rocker_cross.png"))));

    ui->comboBox->setStyleSheet(sheetF);
    ui->comboBox->view()->setStyleSheet(sheetList);

    QPalette whiteText;
    whiteText.setBrush(QPalette::WindowText, QBrush(Qt::white));
    pixCalib.load(picture("button_calib.png"));
    pixSave.load(picture("button_save.png"));
    ui->btn_start_calib->setIcon(QIcon(pixCalib));
    ui->btn_save_param->setIcon(QIcon(pixSave));
    ui->btn_start_calib->setStyleSheet(sheetG);
    ui->btn_save_param->setStyleSheet(sheetH);
    ui->lab_mag_x->setPalette(whiteText);
    ui->lab_mag_y->setPalette(whiteText);
    ui->lab_mag_z->setPalette(whiteText);

    pixLongBar.load(picture("long_bar.png"));
    ui->lab_block_x->setPixmap(pixLongBar);
    ui->lab_block_y->setPixmap(pixLongBar);
    ui->lab_block_z->setPixmap(pixLongBar);
    QLabel *const valueLabels[] = {
        ui->lab_max_x, ui->lab_max_y, ui->lab_max_z,
        ui->lab_min_x, ui->lab_min_y, ui->lab_min_z,
        ui->lab_magdata_x, ui->lab_magdata_y, ui->lab_magdata_z,
    };
    const char *const valueSheets[] = {
        sheetJ, sheetK, sheetK, sheetK, sheetK, sheetK, sheetL, sheetM, sheetM,
    };
    for (int i = 0; i < 9; ++i) {
        valueLabels[i]->setAlignment(Qt::AlignCenter);
        valueLabels[i]->setStyleSheet(valueSheets[i]);
    }

    pixProgress.load(picture("progress.png"));
    ui->lab_check_progress->setPixmap(pixProgress);
    pixCheck.load(picture("btn_check.png"));
    ui->btn_stationary_check->setIcon(QIcon(pixCheck));
    ui->btn_stationary_check->setStyleSheet(sheetI);

    ui->frame_setup->show();
    ui->frame_Magnet->hide();
    ui->frame_valid->hide();
    const QRect pageRect(28, 111, 743, 445);
    ui->frame_setup->setGeometry(pageRect);
    ui->frame_Magnet->setGeometry(pageRect);
    ui->frame_valid->setGeometry(pageRect);
}

// The three pages share one rectangle; each tab shows its own page and its "down" face.

void MainWindow::on_btn_setup_clicked()
{
    ui->btn_setup->setIcon(QIcon(pixSetupDown));
    ui->btn_magnet->setIcon(QIcon(pixMagnetUp));
    ui->btn_valid->setIcon(QIcon(pixValidUp));
    ui->frame_setup->show();
    ui->frame_Magnet->hide();
    ui->frame_valid->hide();
}

void MainWindow::on_btn_magnet_clicked()
{
    ui->btn_setup->setIcon(QIcon(pixSetupUp));
    ui->btn_magnet->setIcon(QIcon(pixMagnetDown));
    ui->btn_valid->setIcon(QIcon(pixValidUp));
    ui->frame_setup->hide();
    ui->frame_Magnet->show();
    ui->frame_valid->hide();
}

void MainWindow::on_btn_valid_clicked()
{
    ui->btn_setup->setIcon(QIcon(pixSetupUp));
    ui->btn_magnet->setIcon(QIcon(pixMagnetUp));
    ui->btn_valid->setIcon(QIcon(pixValidDown));
    ui->frame_setup->hide();
    ui->frame_Magnet->hide();
    ui->frame_valid->show();
}
