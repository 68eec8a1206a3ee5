#include "Shell/SignInView.h"

#include "Kit/Hairline.h"
#include "Kit/Logo.h"
#include "Kit/Pill.h"
#include "Kit/TextInput.h"
#include "Kit/TextStyle.h"
#include "Kit/Theme.h"
#include "Model/HubModel.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QStackedLayout>
#include <QVBoxLayout>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace Hub::Shell {

namespace {

constexpr int kColumnWidth = 340;

Kit::PillStyle primary()
{
    Kit::PillStyle style;
    style.fill = Kit::Theme::ink();
    style.wide = true;
    return style;
}

Kit::PillStyle outlined(bool small)
{
    Kit::PillStyle style;
    style.small = small;
    style.wide = !small;
    return style;
}

Kit::Pill* pill(const QString& title, const Kit::PillStyle& style, const QString& name, QWidget* parent)
{
    auto* button = new Kit::Pill(title, style, parent);
    button->setObjectName(name);
    return button;
}

Kit::TextInput* input(Kit::TextInput::Kind kind, const QString& placeholder, const QString& name, QWidget* parent)
{
    auto* field = new Kit::TextInput(kind, placeholder, parent);
    field->setObjectName(name);
    return field;
}

QVBoxLayout* stepColumn(QWidget* step)
{
    auto* column = new QVBoxLayout(step);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    return column;
}

} // namespace

SignInView::SignInView(HubModel* model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
{
    setObjectName(u"signIn"_s);

    auto* column = new QWidget(this);
    column->setFixedWidth(kColumnWidth);
    auto* stack = new QVBoxLayout(column);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    addHeading(stack, column);

    m_steps = new QStackedLayout;
    stack->addLayout(m_steps);
    m_steps->addWidget(credentialsStep(column));
    m_steps->addWidget(codeStep(column));
    stack->addWidget(busyRow(column));

    // No alignment flags around the column: an aligned item gets only its
    // size hint, too short once the note wraps onto more lines.
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(column);
    row->addStretch(1);
    auto* outer = new QVBoxLayout(this);
    outer->addStretch(1);
    outer->addLayout(row);
    outer->addStretch(1);

    connectControls();
    refresh();
}

void SignInView::addHeading(QVBoxLayout* stack, QWidget* column)
{
    stack->addWidget(new Kit::Logo(56, column), 0, Qt::AlignHCenter);
    stack->addSpacing(20);
    m_title = Kit::plainLabel(QString(), column);
    m_title->setFont(Kit::Theme::bold(22));
    Kit::setTextColor(m_title, Kit::Theme::ink());
    m_title->setAlignment(Qt::AlignHCenter);
    stack->addWidget(m_title);
    stack->addSpacing(14);
    // What the model has to say: a failure's sentence, the code step's
    // instruction, a reason to sign in again. Plain text: sentences can
    // carry what the service or the user typed.
    m_note = Kit::plainLabel(QString(), column);
    m_note->setObjectName(u"loginNote"_s);
    Kit::setProseStyle(m_note, Kit::Theme::prose(13), Kit::Theme::warn());
    m_note->setAlignment(Qt::AlignHCenter);
    // Room for two lines whether a note shows or not: the column is centred
    // on the screen, so a note that grows, goes while a sign-in runs, or
    // comes back as a failure would move everything under it.
    m_note->setMinimumHeight(2 * QFontMetrics(m_note->font()).lineSpacing());
    QSizePolicy kept = m_note->sizePolicy();
    kept.setRetainSizeWhenHidden(true);
    m_note->setSizePolicy(kept);
    Kit::setSelectable(m_note);
    stack->addWidget(m_note);
    // Not a failure of anything the user did: muted, not a warning.
    m_unavailable = Kit::plainLabel(u"Sign-in isn't set up yet in this version of Tarnhub."_s, column);
    m_unavailable->setObjectName(u"signInUnavailable"_s);
    Kit::setProseStyle(m_unavailable, Kit::Theme::prose(13), Kit::Theme::muted());
    m_unavailable->setAlignment(Qt::AlignHCenter);
    m_unavailable->setVisible(!m_model->signInAvailable());
    stack->addWidget(m_unavailable);
    stack->addSpacing(14);
}

// E-mail and password, and the browser sign-ins.
QWidget* SignInView::credentialsStep(QWidget* column)
{
    m_credentials = new QWidget(column);
    QVBoxLayout* form = stepColumn(m_credentials);
    m_email = input(Kit::TextInput::Kind::Email, u"E-mail"_s, u"email"_s, m_credentials);
    m_password = input(Kit::TextInput::Kind::Password, u"Password"_s, u"password"_s, m_credentials);
    m_signIn = pill(u"Sign in"_s, primary(), u"signInButton"_s, m_credentials);
    form->addWidget(m_email);
    form->addWidget(m_password);
    form->addSpacing(4);
    form->addWidget(m_signIn);
    m_divider = new Kit::Hairline(m_credentials);
    form->addSpacing(10);
    form->addWidget(m_divider);
    form->addSpacing(10);
    m_google = pill(u"Continue with Google"_s, outlined(false), u"googleButton"_s, m_credentials);
    m_apple = pill(u"Continue with Apple"_s, outlined(false), u"appleButton"_s, m_credentials);
    form->addWidget(m_google);
    form->addWidget(m_apple);
    return m_credentials;
}

// The second step.
QWidget* SignInView::codeStep(QWidget* column)
{
    m_codeStep = new QWidget(column);
    QVBoxLayout* code = stepColumn(m_codeStep);
    m_code = input(Kit::TextInput::Kind::Code, u"Code"_s, u"code"_s, m_codeStep);
    m_code->setAlignment(Qt::AlignHCenter);
    m_verify = pill(u"Verify"_s, primary(), u"verifyButton"_s, m_codeStep);
    m_back = pill(u"Back"_s, outlined(true), u"backButton"_s, m_codeStep);
    code->addWidget(m_code);
    code->addSpacing(4);
    code->addWidget(m_verify);
    code->addSpacing(6);
    code->addWidget(m_back, 0, Qt::AlignHCenter);
    code->addStretch(1);
    return m_codeStep;
}

// What runs now.
QWidget* SignInView::busyRow(QWidget* column)
{
    m_busy = new QWidget(column);
    m_busy->setObjectName(u"busy"_s);
    auto* busy = new QHBoxLayout(m_busy);
    busy->setContentsMargins(0, 16, 0, 0);
    busy->setSpacing(12);
    m_busyText = Kit::plainLabel(QString(), m_busy);
    m_busyText->setObjectName(u"busyText"_s);
    Kit::setLabelStyle(m_busyText, 11, QFont::Medium, Kit::Theme::muted());
    m_cancel = pill(u"Cancel"_s, outlined(true), u"cancelButton"_s, m_busy);
    busy->addStretch(1);
    busy->addWidget(m_busyText);
    busy->addWidget(m_cancel);
    busy->addStretch(1);
    // Its room is kept while hidden, so the form does not jump when a call starts.
    QSizePolicy keep = m_busy->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    m_busy->setSizePolicy(keep);
    return m_busy;
}

void SignInView::connectControls()
{
    connect(m_signIn, &QAbstractButton::clicked, this, &SignInView::signInWithPassword);
    connect(m_password, &QLineEdit::returnPressed, this, &SignInView::signInWithPassword);
    connect(m_email, &QLineEdit::returnPressed, this, [this] { m_password->setFocus(); });
    connect(m_google, &QAbstractButton::clicked, this, [this] { signInWithBrowser(int(OAuthProvider::google)); });
    connect(m_apple, &QAbstractButton::clicked, this, [this] { signInWithBrowser(int(OAuthProvider::apple)); });
    connect(m_verify, &QAbstractButton::clicked, this, &SignInView::verify);
    connect(m_code, &QLineEdit::returnPressed, this, &SignInView::verify);
    connect(m_back, &QAbstractButton::clicked, this, &SignInView::back);
    connect(m_cancel, &QAbstractButton::clicked, m_model, &HubModel::cancelSignIn);

    for (auto changed : {&HubModel::signingInChanged, &HubModel::codeNeededChanged,
                         &HubModel::signInProvidersChanged, &HubModel::loginNoteChanged})
        connect(m_model, changed, this, &SignInView::refresh);
    // The screen lives on while the main one shows: a password or code left
    // in its fields would greet whoever is sent back here (a sign-out, an
    // account the service refused) and lie in memory meanwhile.
    connect(m_model, &HubModel::screenChanged, this, [this] {
        if (m_model->screen() != Screen::login) {
            m_password->clear();
            m_code->clear();
        }
    });
}

void SignInView::signInWithPassword()
{
    if (m_model->signingIn())
        return;
    m_browser = false;
    m_typed = true;
    m_model->signIn(m_email->text(), m_password->text());
}

void SignInView::signInWithBrowser(int provider)
{
    if (m_model->signingIn())
        return;
    m_browser = true;
    m_typed = false;
    m_model->signIn(OAuthProvider(provider));
}

void SignInView::verify()
{
    if (m_model->signingIn())
        return;
    m_browser = false;
    m_typed = true;
    m_model->submitCode(m_code->text());
}

void SignInView::back()
{
    m_model->cancelSignIn();
    m_model->setLoginNote(std::nullopt);
    m_code->clear();
}

void SignInView::refresh()
{
    const bool busy = m_model->signingIn();
    const bool code = m_model->codeNeeded();
    if (!busy)
        m_browser = false;

    if (code != (m_steps->currentWidget() == m_codeStep)) {
        // A new step: what was typed before is not this step's mistake.
        m_typed = false;
        m_steps->setCurrentWidget(code ? m_codeStep : m_credentials);
    }
    m_title->setText(code ? u"Enter the code"_s : u"Sign in to Tarnhub"_s);

    const std::optional<QString>& note = m_model->loginNote();
    m_note->setText(note.value_or(QString()));
    m_note->setVisible(note && !note->isEmpty());
    // The note outlines the fields in red only when it answers what was
    // typed into them; the code step's instruction is not a failure.
    const bool failed = m_note->isVisible() && !busy && m_typed;
    m_email->setError(failed && !code);
    m_password->setError(failed && !code);
    m_code->setError(failed && code);
    // The code step's instruction is guidance, not a warning.
    Kit::setTextColor(m_note, code && !failed ? Kit::Theme::muted() : Kit::Theme::warn());
    for (Kit::TextInput* field : {m_email, m_password, m_code})
        field->setAccessibleDescription(field->hasError() ? m_note->text() : QString());

    const auto& offered = m_model->signInProviders();
    const auto offers = [&](OAuthProvider p) { return std::find(offered.begin(), offered.end(), p) != offered.end(); };
    m_google->setVisible(offers(OAuthProvider::google));
    m_apple->setVisible(offers(OAuthProvider::apple));
    m_divider->setVisible(!offered.empty());

    for (QWidget* control : std::initializer_list<QWidget*>{m_email, m_password, m_signIn, m_google, m_apple, m_code,
                                                            m_verify})
        control->setEnabled(!busy && m_model->signInAvailable());
    m_busy->setVisible(busy);
    m_busyText->setText(m_browser ? u"Finish in your browser"_s : u"Signing in…"_s);
    m_cancel->setVisible(busy && m_browser);

    if (code && !busy && isVisible() && !m_code->hasFocus())
        m_code->setFocus();
    // A new failure is announced where the user is: the focus goes to the
    // first outlined field, which reads the failure as its description.
    if (failed && !m_failureShown && isVisible())
        (code ? m_code : m_email)->setFocus(Qt::OtherFocusReason);
    m_failureShown = failed;
}

void SignInView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    takeFocus();
    if (!m_providersAsked) {
        m_providersAsked = true;
        m_model->loadSignInProviders();
    }
}

void SignInView::takeFocus()
{
    // The caret waits in the step's first field as soon as the screen shows,
    // whether or not its window is active yet (a window manager activates it
    // in its own time, and it then gives the focus to this field): nothing
    // typed is lost until a Tab or a click.
    QWidget* first = m_steps->currentWidget() == m_codeStep ? static_cast<QWidget*>(m_code) : m_email;
    const QWidget* focused = window()->focusWidget();
    if (first->isEnabled() && !(focused && isAncestorOf(focused) && focused->isVisible()))
        first->setFocus(Qt::OtherFocusReason);
}

void SignInView::paintEvent(QPaintEvent*)
{
    QPainter(this).fillRect(rect(), Kit::Theme::bg());
}

} // namespace Hub::Shell
