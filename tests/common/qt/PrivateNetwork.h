#pragma once
// Running a test inside a private network namespace: the test re-runs its own binary under
// `unshare -n -m` with only itself selected, and the inner run does the real work.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <cstdlib>
#include <string>

namespace tallimer::test {

inline constexpr const char* kInNamespaceVariable = "TALLIMER_IN_NETNS";

inline bool InPrivateNetwork() {
    return std::getenv(kInNamespaceVariable) != nullptr;
}

// Runs a command; true when it exits 0. Its output goes to *output when asked for.
inline bool Run(const QString& program, const QStringList& args, QString* output = nullptr) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    bool ok =
        p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (output) *output = QString::fromLocal8Bit(p.readAll());
    if (!ok) p.kill();
    return ok;
}

// Called first in a test that needs the namespace. Outside, it re-runs the current test in
// a namespace, reports the inner result and returns false (the caller returns). Inside, it
// mounts a sysfs of the namespace and returns true.
#define TALLIMER_ENTER_PRIVATE_NETWORK()                                     \
    do {                                                                     \
        if (!::tallimer::test::InPrivateNetwork()) {                         \
            ::tallimer::test::RunInPrivateNetwork();                         \
            return;                                                          \
        }                                                                    \
        if (::mount("none", "/sys", "sysfs", 0, nullptr) != 0)               \
            GTEST_SKIP() << "cannot mount a sysfs in the private namespace"; \
    } while (false)

inline void RunInPrivateNetwork() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const QString filter =
        QStringLiteral("--gtest_filter=%1.%2").arg(info->test_suite_name(), info->name());
    if (geteuid() != 0) GTEST_SKIP() << "a private network namespace needs root";
    const QString unshare = QStandardPaths::findExecutable(QStringLiteral("unshare"));
    if (unshare.isEmpty()) GTEST_SKIP() << "unshare is not installed";
    if (QStandardPaths::findExecutable(QStringLiteral("ip")).isEmpty())
        GTEST_SKIP() << "ip is not installed";

    QProcess inner;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kInNamespaceVariable), QStringLiteral("1"));
    for (const char* v : {"GTEST_OUTPUT", "GTEST_TOTAL_SHARDS", "GTEST_SHARD_INDEX"})
        env.remove(QString::fromLatin1(v));
    inner.setProcessEnvironment(env);
    inner.setProcessChannelMode(QProcess::MergedChannels);
    inner.start(unshare, {QStringLiteral("-n"), QStringLiteral("-m"), QStringLiteral("--"),
                          QCoreApplication::applicationFilePath(), filter});
    const bool finished = inner.waitForFinished(120000);
    if (!finished) {
        inner.kill();
        inner.waitForFinished(5000);
    }
    const std::string output = QString::fromLocal8Bit(inner.readAll()).toStdString();
    ASSERT_TRUE(finished) << "the run in the private namespace did not end:\n" << output;

    // unshare refused (no privilege for namespaces here): the test binary never started.
    if (output.find("[==========]") == std::string::npos)
        GTEST_SKIP() << "private network namespace refused: " << output;
    if (output.find("[  SKIPPED ]") != std::string::npos)
        GTEST_SKIP() << "skipped inside the private namespace:\n" << output;
    EXPECT_EQ(inner.exitStatus(), QProcess::NormalExit) << output;
    EXPECT_EQ(inner.exitCode(), 0) << output;
    EXPECT_NE(output.find("[  PASSED  ] 1 test."), std::string::npos) << output;
}

}  // namespace tallimer::test
