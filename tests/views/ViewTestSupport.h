#pragma once

#include <QString>
#include <QWidget>

#include <gtest/gtest.h>

namespace Hub::Test {

// The upper bound for waiting on a window event; generous, so a loaded
// machine is slow rather than failing.
inline constexpr int kPatience = 30000;

// Saves what `widget` shows as <build>/screenshots/<name>.png; a failed save
// fails the test, since a person relies on the picture being there.
void saveScreenshot(QWidget* widget, const QString& name);
void saveScreenshot(const QImage& image, const QString& name);

// The child of `root` with that object name, or a failed test.
template<class T = QWidget>
T* child(QObject* root, const QString& name)
{
    T* found = root->findChild<T*>(name);
    EXPECT_NE(found, nullptr) << "no child named " << name.toStdString();
    return found;
}

// `widget` painted over a known ground, for checks on its pixels.
QImage renderOver(QWidget* widget, const QColor& ground);

// The grey level (0...255) of the lightest pixel: how bright a text or a
// mark was actually drawn, whatever the antialiasing made of its edges.
int brightest(const QImage& image);

} // namespace Hub::Test
