#include "Reports/Scrub.h"

#include <QRegularExpression>
#include <QTextBoundaryFinder>

#include <array>

using namespace Qt::StringLiterals;

namespace Hub::Scrub {

namespace {

struct Rule {
    QRegularExpression pattern;
    QString replacement;
};

Rule rule(const QString& pattern, const QString& replacement)
{
    // Unicode properties make \s match every kind of space, not only ASCII.
    return {QRegularExpression(pattern, QRegularExpression::CaseInsensitiveOption
                                            | QRegularExpression::UseUnicodePropertiesOption),
            replacement};
}

const std::array<Rule, 7>& rules()
{
    // Applied in this order, each to the result of the one before.
    //
    // Debian mounts removable media under /media/<user>, other systems under
    // /run/media/<user>: the user name and the volume name both go. A bare
    // "/media/" only counts where it does not follow a folder name, so a
    // folder that merely is called "media" inside a path
    // ("~/Music/media/kick.wav") stays readable.
    static const std::array<Rule, 7> table = {
        rule(u"/Users/[^/\\s\"']+"_s, u"~"_s),
        rule(u"/home/[^/\\s\"']+"_s, u"~"_s),
        rule(u"/Volumes/[^/\"'\\n]+"_s, u"/Volumes/\u2026"_s),
        rule(u"/run/media/[^/\\s\"']+(?:/[^/\"'\\n]+)?"_s, u"/run/media/\u2026"_s),
        rule(u"(?<![\\w.~-])/media/[^/\\s\"']+(?:/[^/\"'\\n]+)?"_s, u"/media/\u2026"_s),
        rule(u"[A-Za-z]:\\\\Users\\\\[^\\\\\\s\"']+"_s, u"~"_s),
        rule(u"[A-Z0-9._%+-]+@[A-Z0-9.-]+\\.[A-Z]{2,}"_s, u"<email>"_s),
    };
    return table;
}

QString leftCharacters(const QString& text, qsizetype max)
{
    if (max <= 0)
        return {};
    if (text.size() <= max)
        return text; // never more characters than UTF-16 units
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype characters = 0;
    while (finder.toNextBoundary() != -1) {
        if (++characters == max)
            return text.left(finder.position());
    }
    return text;
}

} // namespace

QString text(const QString& input, qsizetype max)
{
    QString out = input;
    for (const Rule& r : rules()) {
        if (!r.pattern.isValid())
            continue;
        // The replacements hold no backslash, so nothing in them is read as
        // a back-reference: they are inserted literally.
        out.replace(r.pattern, r.replacement);
    }
    return leftCharacters(out, max);
}

} // namespace Hub::Scrub
