#include "Kit/Animation.h"
#include "Kit/Theme.h"

#include <QApplication>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>

// The widget tests' main: the same screen, fonts, locale, time zone and
// stillness on every machine, so a picture and a time of day read the same.
int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("TZ", "UTC");
    ::tzset();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    // Qt wants a private runtime folder and complains on every start
    // without one (the build lists the tests of each program); a session
    // without one gets its own for the run.
    std::optional<QTemporaryDir> runtime;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && runtime.emplace().isValid())
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime->path()));
    QApplication app(argc, argv);
    Hub::Kit::Theme::install(app);
    Hub::Kit::Animation::setEnabled(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
