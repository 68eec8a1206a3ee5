#pragma once

#include "ModelTestSupport.h"
#include "ViewTestSupport.h"

#include "Kit/Theme.h"
#include "Views/Frame/MainView.h"

#include <QAbstractAnimation>
#include <QLabel>
#include <QTest>
#include <QVBoxLayout>

#include <memory>

namespace Hub::Test {

// A signed-in model over the fakes, on its main screen, drawn by a main
// window of a fixed size. Two products wait for an update (echo, notes),
// one is not installed (reverb), one is tinted (tinted), and the
// application itself has a newer release.
class FrameFixture : public ModelFixture {
protected:
    void SetUp() override
    {
        ModelFixture::SetUp();
        Product echo = plugin(u"echo"_qs, u"2.0"_qs);
        Product notes = plugin(u"notes"_qs, u"1.1"_qs);
        Product reverb = plugin(u"reverb"_qs, u"1.0"_qs);
        Product tinted = plugin(u"tinted"_qs, u"1.0"_qs);
        tinted.tint = u"#203040"_qs;
        catalog.products = {echo, notes, reverb, tinted};
        catalog.hub = Release{};
        catalog.hub->version = u"999.0"_qs;
        catalog.hub->pkgURL = u"https://tarnaudio.example/Tarnhub.pkg"_qs;
        catalog.hub->sha256 = QString(64, u'c');
        installer->copies[u"echo"_qs] = {copy(PluginFormat::vst3, u"1.0"_qs)};
        installer->copies[u"notes"_qs] = {copy(PluginFormat::vst3, u"1.0"_qs)};
        user = HubUser{u"u1"_qs, u"anna.lopez@example.com"_qs, u"Anna Maria Lopez"_qs};
    }

    void TearDown() override
    {
        window.reset();
        ModelFixture::TearDown();
    }

    // Builds the model over the catalog and signs in `user`, with no window.
    void startModel()
    {
        devices->stored = DeviceLoad::found(DeviceSession{u"tok-1"_qs, u"dev-1"_qs, user});
        build(catalog);
        startToFirstScreen();
        ASSERT_EQ(model->screen(), Screen::main);
    }

    // Builds the model over the catalog, signs in `user` and opens the window.
    void open()
    {
        ASSERT_NO_FATAL_FAILURE(startModel());
        window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window.get());
        layout->setContentsMargins(0, 0, 0, 0);
        view = new Views::MainView(model.get(), window.get());
        layout->addWidget(view);
        window->resize(1000, 640);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get(), kPatience));
    }

    template<class T = QWidget>
    T* find(const QString& name) const
    {
        return child<T>(window.get(), name);
    }

    void clickCentre(QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rect().center()); }

    // A click at a point of the window, delivered to whatever lies there.
    void clickAt(QPoint inView)
    {
        QWidget* target = view->childAt(inView);
        ASSERT_NE(target, nullptr);
        QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(view, inView));
    }

    Catalog catalog;
    HubUser user;
    std::unique_ptr<QWidget> window;
    Views::MainView* view = nullptr;
};

// Shows `view` alone on the window's ground, as a tab or the page would,
// and saves it; `view` is handed back to the caller afterwards.
inline void picture(QWidget* view, const QString& name, int width = 560)
{
    QWidget ground;
    QPalette p = ground.palette();
    p.setColor(QPalette::Window, Kit::Theme::bg());
    ground.setPalette(p);
    ground.setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(&ground);
    layout->setContentsMargins(30, 10, 30, 20);
    QWidget* parent = view->parentWidget();
    view->setParent(&ground);
    layout->addWidget(view);
    layout->addStretch(1);
    ground.resize(width, ground.sizeHint().height() + 10);
    ground.show();
    saveScreenshot(&ground, name);
    view->setParent(parent);
}

// The window's animations driven by hand, frame by frame: each frame()
// moves their clock on and lets the window draw, so a test sees every
// frame of a slide however loaded the machine is. Animations are on while
// it lives.
class FrameClock : public QAnimationDriver {
public:
    FrameClock() { install(); }
    ~FrameClock() override { uninstall(); }
    FrameClock(const FrameClock&) = delete;
    FrameClock& operator=(const FrameClock&) = delete;

    qint64 elapsed() const override { return m_now; }
    void frame(int ms = 16)
    {
        m_now += ms;
        advance();
        QCoreApplication::processEvents();
    }

protected:
    // The clock starts again with each run of animations, as Qt's own does.
    void start() override
    {
        m_now = 0;
        QAnimationDriver::start();
    }

private:
    AnimationsOn m_motion;
    qint64 m_now = 0;
};

} // namespace Hub::Test
