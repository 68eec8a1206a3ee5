#pragma once

#include <QList>
#include <QVariant>
#include <QWidget>

class QAbstractButton;

namespace Hub::Kit {

// A row of segments, one per option, in order; pressing one sets the value
// to that option's value. Drawn like the tab strip: the chosen segment is an
// ink capsule with dark text, the others muted text, inside one 1.5-pt
// outline in Theme::line, 30 high, labels in the upper-case label style.
// Values are compared with QVariant's equality, so any type with operator==
// can be the value.
// The keyboard treats it as a desktop radio group: Tab enters and leaves it
// at the chosen segment (the first while none is), and the arrows (Left and
// Up back, Right and Down on) move to the neighbouring segment and choose it.
class Segmented : public QWidget {
    Q_OBJECT

public:
    struct Option {
        QVariant value;
        QString label;
    };

    explicit Segmented(const QList<Option>& options, QWidget* parent = nullptr);

    QVariant value() const { return m_value; }
    // A value that is no option's value selects no segment.
    void setValue(const QVariant& value);

    QAbstractButton* segment(qsizetype index) const;
    qsizetype count() const { return m_options.size(); }

Q_SIGNALS:
    // On every change of value, from a press or from setValue().
    void valueChanged(const QVariant& value);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    friend class Segment;
    // The arrows: the segment `step` away from `from`, if any, takes the
    // focus and is chosen, as a press would choose it.
    void step(QAbstractButton* from, int step);
    // Only the chosen segment is a stop for Tab.
    void fixTabStop();

    QList<Option> m_options;
    QVariant m_value;
    QList<QAbstractButton*> m_segments;
};

} // namespace Hub::Kit
