#include "Views/Common/NotesList.h"

#include "Base/Versions.h"
#include "Kit/Tag.h"
#include "Kit/TextStyle.h"
#include "Kit/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace Hub::Views {

namespace {

constexpr qreal kNoteOpacity = 0.88;

QWidget* block(const ReleaseNote& note, const std::optional<QString>& installed, QWidget* parent)
{
    auto* widget = new QWidget(parent);
    widget->setObjectName(QStringLiteral("note-") + note.version);
    auto* column = new QVBoxLayout(widget);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(0, 0, 0, 0);
    header->setSpacing(8);
    QLabel* version = Kit::plainLabel(note.version, widget);
    version->setObjectName(QStringLiteral("noteVersion"));
    version->setFont(Kit::Theme::bold(15, -0.75));
    Kit::setTextColor(version, Kit::Theme::ink());
    header->addWidget(version, 0, Qt::AlignVCenter);
    if (note.date) {
        QLabel* date = Kit::plainLabel(*note.date, widget);
        date->setObjectName(QStringLiteral("noteDate"));
        Kit::setLabelStyle(date, 10, QFont::Medium, Kit::Theme::dim());
        header->addWidget(date, 0, Qt::AlignVCenter);
    }
    if (NotesList::isNew(note.version, installed)) {
        auto* tag = new Kit::Tag(QStringLiteral("new"), Kit::TagStyle{Kit::Theme::muted(), true}, widget);
        tag->setObjectName(QStringLiteral("noteNew"));
        header->addWidget(tag, 0, Qt::AlignVCenter);
    }
    header->addStretch(1);
    column->addLayout(header);

    QColor ink = Kit::Theme::ink();
    ink.setAlphaF(float(ink.alphaF() * kNoteOpacity));
    for (const QString& line : note.notes) {
        QLabel* label = Kit::plainLabel(line, widget);
        label->setObjectName(QStringLiteral("noteLine"));
        Kit::setProseStyle(label, Kit::Theme::prose(13), ink);
        column->addWidget(label);
    }
    return widget;
}

} // namespace

NotesList::NotesList(const std::vector<ReleaseNote>& history, const std::optional<QString>& installed,
                     const QUrl& link, Kit::ExternalLink::Opener open, QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("notesList"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(16);
    for (const ReleaseNote& note : history)
        column->addWidget(block(note, installed, this));
    auto* more = new Kit::ExternalLink(QStringLiteral("All release notes ↗"), link, std::move(open), this);
    more->setObjectName(QStringLiteral("notesLink"));
    column->addWidget(more, 0, Qt::AlignLeft);
}

bool NotesList::isNew(const QString& version, const std::optional<QString>& installed)
{
    return installed && Versions::compare(version, *installed) == std::strong_ordering::greater;
}

} // namespace Hub::Views
