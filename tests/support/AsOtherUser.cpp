#include "AsOtherUser.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

#include <cstdlib>
#include <filesystem>
#include <utility>

#include <unistd.h>

namespace Hub::Test {

namespace {

class SubjectEnvironment : public ::testing::Environment {
public:
    SubjectEnvironment(const char* variable, std::function<int(const QString&)> subject)
        : m_variable(variable)
        , m_subject(std::move(subject))
    {
    }

    void SetUp() override
    {
        const QByteArray job = qgetenv(m_variable);
        if (!job.isEmpty())
            std::_Exit(m_subject(QString::fromLocal8Bit(job)));
    }

private:
    const char* m_variable;
    std::function<int(const QString&)> m_subject;
};

} // namespace

QStringList asNobody(const QStringList& command)
{
    return QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                       QStringLiteral("--clear-groups")}
           + command;
}

::testing::Environment* addSubjectEnvironment(const char* variable, std::function<int(const QString&)> subject)
{
    return ::testing::AddGlobalTestEnvironment(new SubjectEnvironment(variable, std::move(subject)));
}

int runSelfAsNobody(const char* variable, const QString& job)
{
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return -1;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(variable), job);
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(kSetpriv, asNobody({QFile::decodeName(self.c_str())}));
    if (!process.waitForFinished(60'000) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    return process.exitCode();
}

void chownTree(const QString& root, uid_t owner)
{
    namespace fs = std::filesystem;
    ASSERT_EQ(::lchown(QFile::encodeName(root).constData(), owner, owner), 0);
    for (fs::recursive_directory_iterator it(nativePath(root)), end; it != end; ++it)
        ASSERT_EQ(::lchown(it->path().c_str(), owner, owner), 0);
}

void writeJob(const QString& path, const QMap<QString, QString>& values)
{
    QByteArray text;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        text += it.key().toUtf8() + '=' + it.value().toUtf8() + '\n';
    writeAll(path, text);
}

QMap<QString, QString> readJob(const QString& path)
{
    QMap<QString, QString> values;
    for (const QString& line : QString::fromUtf8(readAll(path)).split(u'\n', Qt::SkipEmptyParts)) {
        const qsizetype equals = line.indexOf(u'=');
        if (equals > 0)
            values.insert(line.left(equals), line.mid(equals + 1));
    }
    return values;
}

} // namespace Hub::Test
