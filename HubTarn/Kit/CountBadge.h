#pragma once

#include <QWidget>

namespace Hub::Kit {

// The small count capsule on the Updates tab: "9+" from ten on. `onInk`
// swaps its two colours for a place that is itself ink.
class CountBadge : public QWidget {
    Q_OBJECT

public:
    CountBadge(int count, bool onInk, QWidget* parent = nullptr);

    void set(int count, bool onInk);
    int count() const { return m_count; }
    bool onInk() const { return m_onInk; }
    QString text() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_count;
    bool m_onInk;
};

} // namespace Hub::Kit
