#include "Views/Sheets/FeedbackSheet.h"

#include "Views/Sheets/SheetKit.h"

#include "Account/HubService.h"
#include "Base/HubError.h"
#include "Kit/Announce.h"
#include "Kit/Keyboard.h"
#include "Kit/Paint.h"
#include "Kit/Pill.h"
#include "Kit/Segmented.h"
#include "Kit/Spinner.h"
#include "Kit/TextStyle.h"
#include "Kit/Theme.h"
#include "Model/HubModel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QUrl>
#include <QVBoxLayout>

namespace Hub::Views {

namespace {

struct EditorStyle {
    int height = 120;
    QMargins textMargins{11, 8, 11, 8};
    qreal textSize = 14;
    // The outline while the last send failed.
    qreal errorOpacity = 0.7;
};

const QString kThanksTitle = QStringLiteral("thank you");
const QString kThanksText = QStringLiteral("It reaches Tarnaudio with your name and version.");

Kit::PillStyle outlined() { return Kit::PillStyle{std::nullopt, Kit::Theme::bg(), true, false}; }
Kit::PillStyle filled() { return Kit::PillStyle{Kit::Theme::ink(), Kit::Theme::bg(), true, false}; }

} // namespace

// The message editor on the window's colour inside a rounded outline that
// turns to the error colour while the last send failed.
class FeedbackSheet::EditorBox : public QWidget {
public:
    explicit EditorBox(QWidget* parent)
        : QWidget(parent)
        , editor(new QPlainTextEdit(this))
    {
        const EditorStyle style;
        setFixedHeight(style.height);
        editor->setObjectName(QStringLiteral("feedbackEditor"));
        editor->setFrameShape(QFrame::NoFrame);
        editor->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        editor->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        editor->setTabChangesFocus(true);
        editor->setFont(Kit::Theme::prose(style.textSize));
        editor->setPlaceholderText(QStringLiteral("What happened, or what would you change?"));
        editor->setAccessibleName(QStringLiteral("Message"));
        editor->viewport()->setAutoFillBackground(false);
        editor->setAutoFillBackground(false);
        QPalette p = editor->palette();
        p.setColor(QPalette::Base, Qt::transparent);
        p.setColor(QPalette::Text, Kit::Theme::ink());
        p.setColor(QPalette::PlaceholderText, Kit::Theme::dim());
        p.setColor(QPalette::Highlight, Kit::Theme::line());
        p.setColor(QPalette::HighlightedText, Kit::Theme::ink());
        editor->setPalette(p);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(style.textMargins);
        layout->addWidget(editor);
    }

    void setError(bool on)
    {
        error = on;
        update();
    }

    QPlainTextEdit* editor;
    bool error = false;

protected:
    void paintEvent(QPaintEvent*) override
    {
        const EditorStyle style;
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal half = Kit::Theme::stroke / 2;
        QColor edge = Kit::Theme::line();
        if (error) {
            edge = Kit::Theme::bad();
            edge.setAlphaF(float(style.errorOpacity));
        }
        p.setPen(QPen(edge, Kit::Theme::stroke));
        p.setBrush(Kit::Theme::bg());
        p.drawPath(Kit::Paint::continuousRect(QRectF(rect()).adjusted(half, half, -half, -half), Kit::Theme::cardRadius));
    }
};

FeedbackSheet::FeedbackSheet(HubModel* model, const QString& slug, QWidget* parent)
    : SheetBody(model, slug, QStringLiteral("feedbackSheet"), parent)
    , m_form(new QWidget(this))
    , m_title(new SheetTitle(QString(), QString(), m_form))
    , m_kinds(nullptr)
    , m_box(new EditorBox(m_form))
    , m_editor(m_box->editor)
    , m_errorLine(Kit::plainLabel(QString(), m_form))
    , m_counter(Kit::plainLabel(QString(), m_form))
    , m_betaPage(new Kit::Pill(QStringLiteral("Beta page ↗"), outlined(), m_form))
    , m_spinner(new Kit::Spinner(m_form))
    , m_cancel(new Kit::Pill(QStringLiteral("Cancel"), outlined(), m_form))
    , m_send(new Kit::Pill(QStringLiteral("Send"), filled(), m_form))
    , m_thanks(new QWidget(this))
    , m_close(new Kit::Pill(QStringLiteral("Close"), filled(), m_thanks))
{
    makeKindChoice();
    nameParts();
    layOutForm();
    layOutThanks();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_form);
    layout->addWidget(m_thanks);
    connectActions();
    // Reading order, buttons last: the kinds are made after the buttons.
    setReadingOrder(Kit::tabStops(m_kinds) << m_editor << m_betaPage << m_cancel << m_send);
    putInReadingOrder({m_title, m_kinds, m_box, m_errorLine, m_counter, m_betaPage, m_spinner, m_cancel, m_send});
    sync();
}

void FeedbackSheet::makeKindChoice()
{
    QList<Kit::Segmented::Option> kinds;
    for (FeedbackKind kind : kAllFeedbackKinds)
        kinds.append({QVariant(int(kind)), rawValue(kind)});
    m_kinds = new Kit::Segmented(kinds, m_form);
    m_kinds->setObjectName(QStringLiteral("feedbackKind"));
    // The segments show no title of their own; the group is named for
    // what it chooses.
    m_kinds->setAccessibleName(QStringLiteral("Kind of feedback"));
    m_kinds->setValue(QVariant(int(m_kind)));
    connect(m_kinds, &Kit::Segmented::valueChanged, this,
            [this](const QVariant& value) { m_kind = FeedbackKind(value.toInt()); });
}

void FeedbackSheet::nameParts()
{
    m_errorLine->setObjectName(QStringLiteral("feedbackError"));
    Kit::setProseStyle(m_errorLine, Kit::Theme::prose(13), Kit::Theme::bad());
    m_counter->setObjectName(QStringLiteral("feedbackCounter"));
    m_betaPage->setObjectName(QStringLiteral("betaPageButton"));
    m_spinner->setObjectName(QStringLiteral("feedbackSpinner"));
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    m_send->setObjectName(QStringLiteral("sendButton"));
    m_close->setObjectName(QStringLiteral("closeButton"));
}

void FeedbackSheet::layOutForm()
{
    auto* errorRow = new QHBoxLayout;
    errorRow->addWidget(m_errorLine, 1);
    errorRow->addStretch(0);
    errorRow->addWidget(m_counter, 0, Qt::AlignVCenter | Qt::AlignRight);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addWidget(m_betaPage);
    buttons->addStretch(1);
    buttons->addWidget(m_spinner);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_send);
    auto* form = new QVBoxLayout(m_form);
    form->setContentsMargins(0, 0, 0, 0);
    form->setSpacing(12);
    form->addWidget(m_title);
    form->addWidget(m_kinds, 0, Qt::AlignLeft);
    form->addWidget(m_box);
    form->addLayout(errorRow);
    form->addLayout(buttons);
}

void FeedbackSheet::layOutThanks()
{
    layOutMessage(m_thanks, QStringLiteral("thanks"), kThanksTitle, kThanksText, m_close);
    // The focus goes to Close once the message is sent: the thanks is read
    // with it, once, and not cut short by the move of the focus.
    m_close->setAccessibleDescription(kThanksTitle + QStringLiteral(". ") + kThanksText);
}

void FeedbackSheet::connectActions()
{
    connect(m_editor, &QPlainTextEdit::textChanged, this, &FeedbackSheet::sync);
    connect(m_send, &QAbstractButton::clicked, this, &FeedbackSheet::send);
    connect(m_cancel, &QAbstractButton::clicked, this, &SheetBody::dismiss);
    connect(m_close, &QAbstractButton::clicked, this, &SheetBody::dismiss);
    connect(m_betaPage, &QAbstractButton::clicked, this, [this] {
        if (const Product* p = product(); p && p->pageURL)
            this->model()->openLink(QUrl(*p->pageURL));
    });
    connect(model(), &HubModel::offlineChanged, this, &FeedbackSheet::sync);
    connect(model(), &HubModel::statesChanged, this, &FeedbackSheet::sync);
    connect(model(), &HubModel::catalogChanged, this, &FeedbackSheet::sync);
    connect(model(), &HubModel::accountChanged, this, &FeedbackSheet::sync);
}

QString FeedbackSheet::message() const { return m_editor->toPlainText(); }

QString FeedbackSheet::counter() const
{
    return QString::number(feedbackLength(message())) + QStringLiteral(" / ") + QString::number(kMaxFeedbackCharacters);
}

QWidget* FeedbackSheet::firstFocus() const
{
    // The sheet is for typing: the caret waits in the editor.
    return m_sent ? nullptr : m_editor;
}

QAbstractButton* FeedbackSheet::defaultButton() const
{
    // Return in the form is a line break in the message, never a send.
    return m_sent ? m_close : nullptr;
}

void FeedbackSheet::sync()
{
    const Product* p = product();
    if (!p)
        return;
    const QString version =
        model()->installedVersion(*p).value_or(p->release ? p->release->version : QString());
    m_title->setTexts(QStringLiteral("feedback · ") + p->shown(),
                      QStringLiteral("Goes to Tarnaudio with your name and version ") + version);
    m_betaPage->setVisible(p->pageURL.has_value());
    if (m_betaPage->isVisible())
        m_betaPage->setToolTip(Kit::plainToolTip(*p->pageURL));

    const qsizetype length = feedbackLength(message());
    m_counter->setText(counter());
    Kit::setLabelStyle(m_counter, 10, QFont::Medium,
                       length > kMaxFeedbackCharacters ? Kit::Theme::bad() : Kit::Theme::dim());
    m_errorLine->setVisible(m_error.has_value());
    m_errorLine->setText(m_error.value_or(QString()));
    m_box->setError(m_error.has_value());
    m_spinner->setVisible(m_sending);
    m_send->setEnabled(!m_sending && !model()->offline() && length > 0 && length <= kMaxFeedbackCharacters);
    m_form->setVisible(!m_sent);
    m_thanks->setVisible(m_sent);
}

void FeedbackSheet::send()
{
    const Product* p = product();
    if (!p || !m_send->isEnabled())
        return;
    m_sending = true;
    m_error.reset();
    sync();
    // The sheet may close before the answer: the send still completes, its
    // outcome is simply no longer shown.
    QPointer<FeedbackSheet> self(this);
    model()->sendFeedback(*p, m_kind, message(), [self](std::optional<HubError> error) {
        if (!self)
            return;
        if (error)
            self->m_error = error->errorDescription();
        else
            self->m_sent = true;
        self->m_sending = false;
        self->sync();
        if (self->m_sent)
            self->m_close->setFocus(Qt::OtherFocusReason);
        else // shown under the message, away from the focus: said too
            Kit::announce(self, *self->m_error);
    });
}

} // namespace Hub::Views
