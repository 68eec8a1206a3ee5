#pragma once

#include <QLineEdit>

namespace Hub::Kit {

// The sign-in screen's field: a 46-high box with continuous corners on the
// window's colour, a 1.5-pt outline in Theme::line that turns Theme::strong
// while the field has focus and Theme::bad (at 0.7) while it shows an
// error; text in the prose font at 15, placeholder in Theme::dim. The code
// kind takes the monospaced font with wide tracking, so a six-digit code
// reads like a code. The placeholder is its accessible name; it is painted
// here rather than given to QLineEdit, which would read it out a second
// time as the description; a centred field shows it only without the
// caret, which would stand inside it. The description is the owner's: a failure's
// sentence while the field shows that failure.
class TextInput : public QLineEdit {
    Q_OBJECT

public:
    enum class Kind { Text, Email, Password, Code };

    explicit TextInput(Kind kind, const QString& placeholder, QWidget* parent = nullptr);

    Kind kind() const { return m_kind; }
    bool hasError() const { return m_error; }
    void setError(bool error);
    QString placeholder() const { return m_placeholder; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Kind m_kind;
    bool m_error = false;
    QString m_placeholder;
};

} // namespace Hub::Kit
