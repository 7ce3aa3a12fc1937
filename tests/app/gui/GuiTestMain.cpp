// SPDX-License-Identifier: GPL-3.0-or-later
// One application object for all the window tests, on Qt's offscreen platform.
#include "varmio/Application.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QtGlobal>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // A configuration folder of the tests' own: no window reads or writes the user's settings.
    const QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    varmio::TApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
