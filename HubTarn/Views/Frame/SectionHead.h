#pragma once

#include <QString>
#include <QWidget>

class QLabel;

namespace Hub::Views {

// A tab's heading: its title on the left, at the same place in every tab,
// and at the far right, on the title's first text baseline, the tab's own
// controls (or nothing).
class SectionHead : public QWidget {
public:
    // Takes ownership of `trailing`, which may be null.
    SectionHead(const QString& title, QWidget* trailing, QWidget* parent = nullptr);

    QLabel* title() const { return m_title; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    // A trailing view whose own layout changed (a pill shown or hidden) is
    // placed again at its new size.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int rowHeight() const;
    int trailingTop() const;
    void place();

    QLabel* m_title;
    QWidget* m_trailing;
};

} // namespace Hub::Views
