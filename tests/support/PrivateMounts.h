#pragma once

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

// A real, small, full-able file system for tests that must see what a full disk does to the
// bytes on it. The test runs again in a private mount namespace (unshare; with a user
// namespace when not root), where it mounts a tmpfs that vanishes with the namespace, so a
// failing test never leaves a mount behind.
namespace tonelark::test {

inline constexpr char kPrivateMountsVariable[] = "TONELARK_PRIVATE_MOUNTS";

struct PrivateMountsRun {
    bool inNamespace = false;   // this process is the rerun: go on with the test
    bool unavailable = false;   // no namespace could be had: skip, `reason` says why
    QString reason;
    int exitCode = -1;          // the rerun's exit code
};

inline PrivateMountsRun rerunInPrivateMountNamespace()
{
    PrivateMountsRun run;
    if (qEnvironmentVariableIsSet(kPrivateMountsVariable)) {
        run.inNamespace = true;
        return run;
    }
    const testing::TestInfo *info = testing::UnitTest::GetInstance()->current_test_info();
    const QString filter = QStringLiteral("--gtest_filter=%1.%2")
                               .arg(QString::fromUtf8(info->test_suite_name()),
                                    QString::fromUtf8(info->name()));
    const QString self = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kPrivateMountsVariable), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    const QStringList namespaces = ::geteuid() == 0 ? QStringList{QStringLiteral("--mount")}
                                                    : QStringList{QStringLiteral("--map-root-user"),
                                                                  QStringLiteral("--mount")};
    child.start(QStringLiteral("unshare"), namespaces + QStringList{self, filter});
    if (!child.waitForStarted() || !child.waitForFinished(120000)) {
        run.unavailable = true;
        run.reason = QStringLiteral("unshare could not be run");
        return run;
    }
    const QByteArray output = child.readAll();
    run.exitCode = child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
    if (run.exitCode != 0 && output.startsWith("unshare:")) {
        run.unavailable = true;
        run.reason = QStringLiteral("no private mount namespace here: ") + QString::fromLocal8Bit(output.trimmed());
        return run;
    }
    if (run.exitCode != 0)
        std::fputs(output.constData(), stderr);
    return run;
}

// Mounts a tmpfs of `bytes` on a fresh folder; only inside the rerun's namespace.
class SmallFileSystem {
public:
    explicit SmallFileSystem(qint64 bytes)
    {
        const QByteArray options = "size=" + QByteArray::number(bytes);
        m_mounted = m_dir.isValid()
            && ::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs", 0,
                       options.constData()) == 0;
    }
    ~SmallFileSystem()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }
    QString path() const { return m_dir.path(); }

    // Writes a filler file until the disk is full, then frees `leave` bytes of it again.
    bool fill(qint64 leave = 0) const
    {
        QFile filler(filePath(QStringLiteral("filler")));
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return false;
        const QByteArray block(4096, 'f');
        while (filler.write(block) == block.size()) {
        }
        return leave == 0 || filler.resize(std::max<qint64>(0, filler.size() - leave));
    }

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
};

} // namespace tonelark::test

// Reruns the test in its own mount namespace; in the parent the test ends with the rerun's
// outcome, or is skipped when no namespace can be had.
#define TONELARK_IN_PRIVATE_MOUNTS()                                                              \
    do {                                                                                          \
        const tonelark::test::PrivateMountsRun run_ = tonelark::test::rerunInPrivateMountNamespace(); \
        if (run_.unavailable)                                                                     \
            GTEST_SKIP() << run_.reason.toStdString();                                            \
        if (!run_.inNamespace) {                                                                  \
            EXPECT_EQ(run_.exitCode, 0) << "the test failed in its mount namespace (output above)"; \
            return;                                                                               \
        }                                                                                         \
    } while (0)
