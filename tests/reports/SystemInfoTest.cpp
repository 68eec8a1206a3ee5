#include "Reports/SystemInfo.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

namespace SystemInfo = Hub::SystemInfo;

TEST(SystemInfoTest, OsIsNameAndMajorMinorVersion)
{
    const QByteArray debian = "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\n"
                              "VERSION_ID=\"12\"\nID=debian\n";
    EXPECT_EQ(SystemInfo::osFrom(debian, u"Linux"_s, u"6.1.0-18-amd64"_s), u"Debian GNU/Linux 12"_s);
    EXPECT_EQ(SystemInfo::osFrom("NAME=Fedora\nVERSION_ID=40.1.7\n", u"Linux"_s, u"6.8"_s), u"Fedora 40.1"_s);
    EXPECT_EQ(SystemInfo::osFrom("NAME='Arch Linux'\n", u"Linux"_s, u"6.8"_s), u"Arch Linux"_s);
    // Without os-release the kernel stands in; its patch level is left out.
    EXPECT_EQ(SystemInfo::osFrom({}, u"Linux"_s, u"6.1.0-18-amd64"_s), u"Linux 6.1"_s);
    EXPECT_EQ(SystemInfo::osFrom("PRETTY_NAME=x\n", u"Linux"_s, u"5.15.2"_s), u"Linux 5.15"_s);
}

TEST(SystemInfoTest, ArchIsOneOfTheTwoNames)
{
    EXPECT_TRUE(SystemInfo::arch() == u"arm64"_s || SystemInfo::arch() == u"x86_64"_s);
    EXPECT_FALSE(SystemInfo::os().isEmpty());
}

} // namespace
