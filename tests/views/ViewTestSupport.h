#pragma once

#include <QAccessible>
#include <QList>
#include <QString>
#include <QWidget>

#include <memory>

#include <gtest/gtest.h>

namespace Hub::Test {

// The upper bound for waiting on a window event; generous, so a loaded
// machine is slow rather than failing.
inline constexpr int kPatience = 30000;

// Motion on for one test (the suite runs without it), off again however
// the test ends.
class AnimationsOn {
public:
    AnimationsOn();
    ~AnimationsOn();
    AnimationsOn(const AnimationsOn&) = delete;
    AnimationsOn& operator=(const AnimationsOn&) = delete;
};

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

// A top-level window around `content` (20 of margin, `width` wide when
// given) that is shown and active, so shortcuts and focus work as they do
// for a user.
std::unique_ptr<QWidget> activeWindow(QWidget* content, int width = 0);

// `widget` painted over a known ground, for checks on its pixels.
QImage renderOver(QWidget* widget, const QColor& ground);

// The grey level (0...255) of the lightest pixel: how bright a text or a
// mark was actually drawn, whatever the antialiasing made of its edges.
int brightest(const QImage& image);

// What the views tell assistive technology while it lives: an installed
// update handler records every event (type and object) instead of passing
// it to the platform, and accessibility counts as active meanwhile.
class AccessEvents {
public:
    AccessEvents();
    ~AccessEvents();
    AccessEvents(const AccessEvents&) = delete;
    AccessEvents& operator=(const AccessEvents&) = delete;

    struct Event {
        QAccessible::Event type;
        QObject* object;
        QString name;   // of a name change: the name it announced
        QString sender; // of a name change: the object's name then
    };
    const QList<Event>& events() const;
    // How many events of `type` were sent for `object`.
    int count(QAccessible::Event type, const QObject* object) const;
    void clear();
};

// The interface a screen reader gets for `object`; a failed test if none.
QAccessibleInterface* spoken(QObject* object);

} // namespace Hub::Test
