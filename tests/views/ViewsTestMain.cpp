#include "Kit/Animation.h"
#include "Kit/Theme.h"

#include <QApplication>
#include <QLocale>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

// The widget tests' main: the same screen, fonts, locale, time zone and
// stillness on every machine, so a picture and a time of day read the same.
int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("TZ", "UTC");
    ::tzset();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QApplication app(argc, argv);
    Hub::Kit::Theme::install(app);
    Hub::Kit::Animation::setEnabled(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
