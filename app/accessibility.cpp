// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "accessibility.h"

#include <QAbstractButton>
#include <QKeySequence>
#include <QShortcut>
#include <QWidget>

#include <array>

namespace {

struct ButtonName {
    const char *widget;
    const char *name;
};

// The words each picture shows, or the window's own word for what it does.
const ButtonName buttonNames[] = {
    {"btn_setup", "Setup"},
    {"btn_magnet", "Magnetometer"},
    {"btn_valid", "Validation"},
    {"btn_search", "Search"},
    {"btn_connect", "Connect"},
    {"btn_start_calib", "Calibrate"},
    {"btn_save_param", "Save"},
    {"btn_stationary_check", "Start check"},
    {"btn_smallest", "Minimise"},
    {"btn_close", "Close"},
};

// The tabs and the pages they show, in the order of the tabs.
constexpr int PageCount = 3;
const char *const tabNames[PageCount] = {"btn_setup", "btn_magnet", "btn_valid"};
const char *const pageNames[PageCount] = {"frame_setup", "frame_Magnet", "frame_valid"};

} // namespace

void installKeyboardAccess(QWidget *window)
{
    for (const ButtonName &entry : buttonNames) {
        if (auto *button = window->findChild<QAbstractButton *>(QLatin1String(entry.widget))) {
            button->setAccessibleName(QLatin1String(entry.name));
            button->setToolTip(QLatin1String(entry.name));
        }
    }

    std::array<QAbstractButton *, PageCount> tabs{};
    std::array<QWidget *, PageCount> pages{};
    for (int i = 0; i < PageCount; ++i) {
        tabs[i] = window->findChild<QAbstractButton *>(QLatin1String(tabNames[i]));
        pages[i] = window->findChild<QWidget *>(QLatin1String(pageNames[i]));
        if (!tabs[i] || !pages[i])
            return;
    }
    for (int i = 0; i < PageCount; ++i) {
        auto *key = new QShortcut(QKeySequence(int(Qt::CTRL) | (Qt::Key_1 + i)), window);
        QObject::connect(key, &QShortcut::activated, tabs[i], &QAbstractButton::click);
    }
    // The page that shows is the one the tabs last chose, however they were pressed.
    auto step = [tabs, pages](int by) {
        int shown = 0;
        while (shown < PageCount - 1 && pages[shown]->isHidden())
            ++shown;
        tabs[(shown + by + PageCount) % PageCount]->click();
    };
    auto *next = new QShortcut(QKeySequence(int(Qt::CTRL) | Qt::Key_Tab), window);
    QObject::connect(next, &QShortcut::activated, window, [step] { step(1); });
    // Shift+Tab reaches Qt as Backtab.
    auto *previous = new QShortcut(QKeySequence(int(Qt::CTRL) | int(Qt::SHIFT) | Qt::Key_Backtab), window);
    QObject::connect(previous, &QShortcut::activated, window, [step] { step(-1); });
}
