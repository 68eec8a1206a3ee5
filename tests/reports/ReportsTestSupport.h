#pragma once

#include "Reports/Report.h"
#include "Reports/ReportSpool.h"

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace Hub::Test {

inline QByteArray readBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

inline void writeBytes(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// Every file and folder below `folder`, relative to it, sorted.
inline QStringList treeOf(const QString& folder)
{
    QStringList out;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(folder).relativeFilePath(it.next());
    out.sort();
    return out;
}

// A spool in a temporary home whose clock the test sets.
class SpoolFixture : public ::testing::Test {
protected:
    QTemporaryDir home;
    qint64 now = 1'700'000'000;
    ReportSpool spool{home.path(), [this] { return now; }};

    QString reportPath(const QString& product, const QString& code) const
    {
        return QDir(spool.root()).filePath(product + u'/' + code + QStringLiteral(".json"));
    }

    static Report makeReport(const QString& product, const QString& code)
    {
        Report report;
        report.product = product;
        report.code = code;
        return report;
    }
};

} // namespace Hub::Test
