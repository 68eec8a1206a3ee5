#include "Reports/ReportSpool.h"

#include "ReportsTestSupport.h"
#include "QStringPrinter.h"
#include "SmallDisk.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

namespace SmallDisk = Hub::Test::SmallDisk;
using Hub::RecordStatus;
using Hub::Report;
using Hub::ReportSpool;
using Hub::Test::readBytes;
using Hub::Test::treeOf;
using Hub::Test::writeBytes;

// A spool whose home lies on the small file system, so a full disk is real.
class ReportSpoolDiskFullTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!SmallDisk::available())
            GTEST_SKIP() << SmallDisk::why().toStdString();
        m_home = std::make_unique<QTemporaryDir>(SmallDisk::root() + u"/reports-XXXXXX"_s);
        ASSERT_TRUE(m_home->isValid());
        m_spool = std::make_unique<ReportSpool>(m_home->path(), [] { return qint64(1'700'000'000); });
    }

    void TearDown() override
    {
        // The filler goes with the home, so the next test has the disk again.
        m_home.reset();
    }

    static Report makeReport(const QString& message)
    {
        Report report;
        report.product = u"tarn-verb"_s;
        report.code = u"hub.install"_s;
        report.message = message;
        return report;
    }

    QString reportPath() const { return m_spool->root() + u"/tarn-verb/hub.install.json"_s; }

    // Fills the disk to the last byte.
    void fillDisk() const
    {
        ASSERT_TRUE(SmallDisk::leaveFree(m_home->path(), 0));
        ASSERT_LT(SmallDisk::freeBytes(m_home->path()), 4096);
    }

    void freeDisk() const
    {
        for (const QFileInfo& entry : QDir(m_home->path()).entryInfoList({u"filler-*"_s}, QDir::Files))
            ASSERT_TRUE(QFile::remove(entry.filePath()));
    }

    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<ReportSpool> m_spool;
};

// A report written on a full disk is not there at all, neither empty nor cut
// short, and so takes nothing from the next report of that product and code.
TEST_F(ReportSpoolDiskFullTest, AReportIsWrittenWholeOrNotAtAll)
{
    // The folders exist already, as after any earlier report.
    ASSERT_TRUE(QDir().mkpath(QFileInfo(reportPath()).path()));
    fillDisk();

    const Hub::RecordResult full = m_spool->record(makeReport(u"The disk is full."_s));
    EXPECT_EQ(full.status, RecordStatus::notWritten);
    EXPECT_FALSE(QFileInfo::exists(reportPath())) << "size " << QFileInfo(reportPath()).size();
    EXPECT_EQ(treeOf(QFileInfo(reportPath()).path()), QStringList()) << "nothing left beside it";

    freeDisk();
    ASSERT_TRUE(m_spool->record(makeReport(u"Couldn't install."_s)).recorded());
    const std::vector<Hub::ReportFile> files = m_spool->load();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].report.count, 1);
    EXPECT_EQ(files[0].report.message, u"Couldn't install."_s);
}

} // namespace
