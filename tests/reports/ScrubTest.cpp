#include "Reports/Scrub.h"

#include <gtest/gtest.h>

#include <string>

using namespace Qt::StringLiterals;

namespace {

struct ScrubCase {
    const char* name;
    const char* input;
    const char* expected;
};

class ScrubRuleTest : public ::testing::TestWithParam<ScrubCase> {};

TEST_P(ScrubRuleTest, HidesWhoTheUserIs)
{
    const ScrubCase c = GetParam();
    EXPECT_EQ(Hub::Scrub::text(QString::fromUtf8(c.input), 500).toStdString(), std::string(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Rules, ScrubRuleTest,
    ::testing::Values(
        // macOS homes and volumes
        ScrubCase{"MacHome", "/Users/anna/Music/x.vst3", "~/Music/x.vst3"},
        ScrubCase{"MacHomeLowerCase", "at /users/anna/x", "at ~/x"},
        ScrubCase{"MacHomeEndsAtQuote", "'/Users/anna' missing", "'~' missing"},
        ScrubCase{"MacVolume", "/Volumes/My Drive/x", "/Volumes/\u2026/x"},
        ScrubCase{"MacVolumeEndsAtLineBreak", "/Volumes/Anna Disk\nnext", "/Volumes/\u2026\nnext"},
        // Windows homes
        ScrubCase{"WindowsHome", "C:\\Users\\Bob\\x", "~\\x"},
        ScrubCase{"WindowsHomeLowerDrive", "d:\\users\\bob smith", "~ smith"},
        // Linux homes and removable media
        ScrubCase{"LinuxHome", "/home/anna/.vst3/Verb.vst3 is damaged", "~/.vst3/Verb.vst3 is damaged"},
        ScrubCase{"LinuxHomeAlone", "cd /home/anna", "cd ~"},
        ScrubCase{"LinuxHomeInQuotes", "\"/home/anna\"", "\"~\""},
        ScrubCase{"LinuxHomeUnderVar", "/var/home/anna/x", "/var~/x"},
        ScrubCase{"RunMedia", "/run/media/anna/USB STICK/Verb.vst3", "/run/media/\u2026/Verb.vst3"},
        ScrubCase{"RunMediaUserOnly", "/run/media/anna", "/run/media/\u2026"},
        ScrubCase{"DebianMedia", "copy to /media/anna/Anna's Disk/x failed", "copy to /media/\u2026's Disk/x failed"},
        ScrubCase{"DebianMediaInFileURL", "file:///media/anna/Backup/x", "file:///media/\u2026/x"},
        ScrubCase{"FolderCalledMediaStays", "/home/anna/Music/media/kick.wav", "~/Music/media/kick.wav"},
        // e-mail addresses
        ScrubCase{"Email", "signed in as anna@example.com", "signed in as <email>"},
        ScrubCase{"EmailCapitals", "ANNA.SMITH+hub@Mail.Example.CO.UK!", "<email>!"},
        // several at once, and text without anything to hide
        ScrubCase{"Mixed", "/Users/anna/a and /home/bob/b for c@d.io",
                  "~/a and ~/b for <email>"},
        ScrubCase{"Plain", "Couldn't reach Tarnaudio.", "Couldn't reach Tarnaudio."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ScrubTest, NoUserNameSurvivesAnyRule)
{
    const QString text = u"/Users/zed1/a /home/zed2/b /run/media/zed3/c /media/zed4/d C:\\Users\\zed5\\e zed6@x.org"_s;
    const QString scrubbed = Hub::Scrub::text(text, 500);
    EXPECT_FALSE(scrubbed.contains(u"zed"_s)) << scrubbed.toStdString();
}

TEST(ScrubTest, CutsToUserPerceivedCharacters)
{
    EXPECT_EQ(Hub::Scrub::text(QString(600, u'x'), 500), QString(500, u'x'));
    EXPECT_EQ(Hub::Scrub::text(u"abc"_s, 500), u"abc"_s);
    EXPECT_EQ(Hub::Scrub::text(u"abc"_s, 0), QString());

    // "e" + combining acute is one character of two code units; a flag is
    // one character of four. Cutting never splits them.
    const QString accented = u"e\u0301"_s;
    const QString flag = u"\U0001F1E9\U0001F1EA"_s;
    EXPECT_EQ(Hub::Scrub::text(accented.repeated(3), 2), accented.repeated(2));
    EXPECT_EQ(Hub::Scrub::text(flag + u"ab"_s, 2), flag + u"a"_s);
}

TEST(ScrubTest, CutsAfterHidingSoAHalfNameCannotRemain)
{
    // Cut first, the text would end in part of an address that no rule
    // recognises any more.
    const QString text = QString(10, u'x') + u" anna.smith@example.com"_s;
    EXPECT_EQ(Hub::Scrub::text(text, 20), QString(10, u'x') + u" <email>"_s);
}

} // namespace
