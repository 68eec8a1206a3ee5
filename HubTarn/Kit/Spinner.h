#pragma once

#include <QWidget>

namespace Hub::Kit {

class Tween;

// A small spinning arc, for steps whose length nobody can tell.
class Spinner : public QWidget {
    Q_OBJECT

public:
    explicit Spinner(QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    Tween* m_turn;
};

} // namespace Hub::Kit
