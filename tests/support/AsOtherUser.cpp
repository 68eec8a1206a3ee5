#include "AsOtherUser.h"

#include "TestFiles.h"
#include "ToolsPaths.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

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

// Names the parent's reachable folder to a subject.
constexpr char kReachableVariable[] = "HUB_TEST_REACHABLE_FOLDER";

} // namespace

QString reachableFolder()
{
    if (const QByteArray inherited = qgetenv(kReachableVariable); !inherited.isEmpty())
        return QFile::decodeName(inherited);
    static const QString folder = [] {
        static QTemporaryDir made(QDir::tempPath() + QStringLiteral("/hub-reachable-XXXXXX"));
        if (!made.isValid()
            || !QFile::setPermissions(made.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                       | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
                                                       | QFile::ExeOther))
            return QString();
        return made.path();
    }();
    return folder;
}

QString reachableProgram(const QString& program)
{
    namespace fs = std::filesystem;
    const fs::path from = nativePath(program);
    const fs::path to = nativePath(reachableFolder()) / from.filename();
    std::error_code ec;
    if (fs::exists(to, ec))
        return QFile::decodeName(to.c_str());
    fs::create_hard_link(from, to, ec);
    if (ec)
        fs::copy_file(from, to, ec);
    return ec ? QString() : QFile::decodeName(to.c_str());
}

ToolPaths reachableTools()
{
    // The applets are links named after them to the one program: the same
    // shape again, around a reachable copy of it.
    const QString bin = reachableFolder() + QStringLiteral("/tools/bin");
    if (!QFileInfo::exists(bin)) {
        const QString hubtools = QDir(toolsFolder()).filePath(QStringLiteral("../hubtools"));
        QDir().mkpath(bin);
        QFile::link(reachableProgram(hubtools), reachableFolder() + QStringLiteral("/tools/hubtools"));
        for (const QString& applet : QDir(toolsFolder()).entryList(QDir::Files | QDir::System))
            QFile::link(QStringLiteral("../hubtools"), bin + u'/' + applet);
    }
    return ToolPaths::inFolder(bin);
}

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
    const QString program = reachableProgram(QFile::decodeName(self.c_str()));
    reachableTools();
    if (program.isEmpty())
        return -1;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(variable), job);
    environment.insert(QString::fromLatin1(kReachableVariable), reachableFolder());
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.setWorkingDirectory(reachableFolder());
    process.start(kSetpriv, asNobody({program}));
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
