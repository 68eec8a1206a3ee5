#pragma once

#include "FrameTestSupport.h"

#include "Kit/Theme.h"

#include <QLabel>

#include <memory>

namespace Hub::Test {

// One tab's content alone in a window of the window's ground colour,
// padded as the tab body pads it, over a signed-in model.
class TabFixture : public FrameFixture {
protected:
    void TearDown() override
    {
        ground.reset();
        FrameFixture::TearDown();
    }

    // Shows `tab` (made over the model) in a window `width` wide, as tall
    // as it wants to be.
    template<class Tab>
    Tab* show(int width = 960)
    {
        ground = std::make_unique<QWidget>();
        QPalette p = ground->palette();
        p.setColor(QPalette::Window, Kit::Theme::bg());
        ground->setPalette(p);
        ground->setAutoFillBackground(true);
        auto* layout = new QVBoxLayout(ground.get());
        layout->setContentsMargins(Kit::Theme::tabBodyMargins);
        auto* tab = new Tab(model.get(), ground.get());
        layout->addWidget(tab);
        ground->resize(width, ground->sizeHint().height());
        ground->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(ground.get(), kPatience));
        return tab;
    }

    // Lets the window take the height its content wants now, and pictures it.
    void picture(const QString& name)
    {
        // What the model posted (a job's step, a new size of a pill) is
        // drawn before the picture is taken.
        QCoreApplication::processEvents();
        ground->resize(ground->width(), ground->heightForWidth(ground->width()) > 0
                                            ? ground->heightForWidth(ground->width())
                                            : ground->sizeHint().height());
        QCoreApplication::processEvents();
        saveScreenshot(ground.get(), name);
    }

    // Shuts the model down and builds a new one over the same home folder
    // and settings file: what a restart of the program keeps.
    void restart()
    {
        ground.reset();
        model->shutdown();
        model.reset();
        ASSERT_NO_FATAL_FAILURE(startModel());
    }

    // The text of the labels under `root` with that object name, in order.
    static QStringList texts(QWidget* root, const QString& name)
    {
        QStringList found;
        for (const QLabel* label : root->findChildren<QLabel*>(name))
            if (label->isVisibleTo(root))
                found.append(label->text());
        return found;
    }

    // The child of the window with that name that shows now (parts drawn
    // anew leave their old rows hidden until they are deleted); with
    // `expected`, a missing one fails the test.
    template<class T = QWidget>
    T* shown(const QString& name, bool expected = true) const
    {
        for (T* found : ground->findChildren<T*>(name))
            if (found->isVisibleTo(ground.get()))
                return found;
        EXPECT_FALSE(expected) << "nothing named " << name.toStdString() << " shows";
        return nullptr;
    }

    std::unique_ptr<QWidget> ground;
};

} // namespace Hub::Test
