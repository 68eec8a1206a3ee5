#pragma once

#include <QWidget>

#include <functional>

class QStackedLayout;

namespace Hub {
class HubModel;
}

namespace Hub::Shell {

class SignInView;
class SplashView;

// The root screen switch over the model's screen: the splash, the sign-in
// screen or the main screen. The main screen comes from a factory, made the
// first time it is needed and kept afterwards, so the shell does not depend
// on the views that draw it.
class RootView : public QWidget {
    Q_OBJECT

public:
    using MainFactory = std::function<QWidget*(QWidget* parent)>;

    RootView(HubModel* model, MainFactory makeMain, QWidget* parent = nullptr);

    // The screen shown now.
    QWidget* current() const;

private:
    void showScreen();

    HubModel* m_model;
    MainFactory m_makeMain;
    QStackedLayout* m_stack;
    SplashView* m_splash;
    SignInView* m_signIn;
    QWidget* m_main = nullptr;
};

} // namespace Hub::Shell
