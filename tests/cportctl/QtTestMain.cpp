// SPDX-License-Identifier: GPL-3.0-or-later
// One application object for all the control tests, on Qt's offscreen platform, with the port
// component's main-thread queue served by Qt's event loop.
#include "cportctl/QtMainThread.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QtGlobal>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    cportctl::InstallQtMainThreadQueue();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
