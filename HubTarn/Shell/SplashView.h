#pragma once

#include <QWidget>

namespace Hub::Shell {

// The first screen while the model reads the stored sign-in. The look: the
// window's colour, the kit's logo at 72 pt in the middle and the name below
// it as a 12-pt monospaced upper-case label in Theme::muted, nothing else;
// the model decides how long it stays.
class SplashView : public QWidget {
    Q_OBJECT

public:
    explicit SplashView(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace Hub::Shell
