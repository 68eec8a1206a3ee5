#pragma once

#include <QWidget>

class QLabel;
class QStackedLayout;
class QVBoxLayout;
class QWidget;

namespace Hub {
class HubModel;
}

namespace Hub::Kit {
class Pill;
class TextInput;
} // namespace Hub::Kit

namespace Hub::Shell {

// The sign-in screen: e-mail and password, the browser sign-ins the model
// offers, and the code step. It keeps no sign-in state of its own beyond
// which kind of sign-in the user started; the model says what to show.
//
// The look: one 340-pt column centred on the window's colour. The kit's
// logo (56 pt), a 22-pt bold title in Theme::ink, then the model's note in
// 13-pt prose in Theme::warn (plain text, wrapping), then the form: 46-pt
// text inputs 10 pt apart and a wide ink-filled pill; below a hairline the
// browser sign-ins as wide outlined pills. The code step swaps the form
// for the code input, a wide "Verify" pill and a small outlined "Back".
// A build without sign-in says so under the title before anyone types, in
// muted prose, with every field and button disabled.
// While a call runs every control dims to 0.35 and a monospaced muted
// label says what is happening, with a small outlined "Cancel" beside it
// while the browser has the sign-in.
class SignInView : public QWidget {
    Q_OBJECT

public:
    explicit SignInView(HubModel* model, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void addHeading(QVBoxLayout* stack, QWidget* column);
    QWidget* credentialsStep(QWidget* column);
    QWidget* codeStep(QWidget* column);
    QWidget* busyRow(QWidget* column);
    void connectControls();
    void refresh();
    void signInWithPassword();
    void signInWithBrowser(int provider);
    void verify();
    void back();
    void takeFocus();

    HubModel* m_model;
    QLabel* m_title;
    QLabel* m_note;
    QLabel* m_unavailable;
    QStackedLayout* m_steps;
    QWidget* m_credentials;
    QWidget* m_codeStep;
    Kit::TextInput* m_email;
    Kit::TextInput* m_password;
    Kit::Pill* m_signIn;
    QWidget* m_divider;
    Kit::Pill* m_google;
    Kit::Pill* m_apple;
    Kit::TextInput* m_code;
    Kit::Pill* m_verify;
    Kit::Pill* m_back;
    QWidget* m_busy;
    QLabel* m_busyText;
    Kit::Pill* m_cancel;
    bool m_browser = false;
    // The user typed what the current step sent.
    bool m_typed = false;
    bool m_providersAsked = false;
    // The fields are outlined for a failure the user has been taken to.
    bool m_failureShown = false;
};

} // namespace Hub::Shell
