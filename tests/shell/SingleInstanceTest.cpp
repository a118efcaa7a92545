#include "shell/SingleInstance.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "tests/common/Fakes.h"

using namespace tallimer;
using tallimer::test::TempDir;
namespace fs = std::filesystem;

namespace {

using Outcome = InstanceLock::Outcome;

TEST(InstanceLock, SecondHolderIsToldAndTheLockFreesWithItsHolder) {
    TempDir dir;
    auto first = std::make_unique<InstanceLock>(dir.path().string());
    EXPECT_EQ(first->acquire(), Outcome::First);
    EXPECT_EQ(first->acquire(), Outcome::First);  // asking again keeps it
    InstanceLock second(dir.path().string());
    EXPECT_EQ(second.acquire(), Outcome::Second);
    first.reset();
    EXPECT_EQ(second.acquire(), Outcome::First);
}

TEST(InstanceLock, NamedPerUserAndUnprotectedWhereNoFileCanBeMade) {
    TempDir dir;
    EXPECT_EQ(InstanceLock("").acquire(), Outcome::Unprotected);
    InstanceLock lock(dir.path().string());
    const std::string uid = std::to_string(getuid());
    EXPECT_EQ(lock.lockPath(), dir.str() + "tallimer-" + uid + ".lock");
    EXPECT_EQ(lock.socketPath(), dir.str() + "tallimer-" + uid + ".socket");
    InstanceLock nowhere((dir.path() / "missing").string());
    EXPECT_EQ(nowhere.acquire(), Outcome::Unprotected);
}

// A copy killed while holding the lock must not block the next start.
TEST(InstanceLock, KilledHolderLeavesNoStaleLock) {
    TempDir dir;
    InstanceLock inChild(dir.path().string());
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        char ok = inChild.acquire() == Outcome::First ? 'y' : 'n';
        [[maybe_unused]] ssize_t n = write(ready[1], &ok, 1);
        pause();
        _exit(0);
    }
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    EXPECT_EQ(ok, 'y');
    InstanceLock meanwhile(dir.path().string());
    EXPECT_EQ(meanwhile.acquire(), Outcome::Second);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    close(ready[0]);
    close(ready[1]);
    EXPECT_TRUE(std::filesystem::exists(inChild.lockPath()));
    InstanceLock after(dir.path().string());
    EXPECT_EQ(after.acquire(), Outcome::First);
}

// Many starts at the same instant: exactly one gets the lock.
TEST(InstanceLock, SimultaneousStartsLeaveExactlyOne) {
    TempDir dir;
    constexpr int kStarts = 8;
    std::vector<std::unique_ptr<InstanceLock>> locks;
    for (int i = 0; i < kStarts; ++i)
        locks.push_back(std::make_unique<InstanceLock>(dir.path().string()));
    // go releases every child at once (its write end closes); hold keeps the winner holding
    // the lock until all have tried.
    int go[2], hold[2], done[2];
    ASSERT_EQ(pipe(go), 0);
    ASSERT_EQ(pipe(hold), 0);
    ASSERT_EQ(pipe(done), 0);
    std::vector<pid_t> children;
    for (int i = 0; i < kStarts; ++i) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            char c;
            close(go[1]);
            close(hold[1]);
            if (read(go[0], &c, 1) != 0) _exit(3);
            Outcome o = locks[i]->acquire();
            char r = o == Outcome::First ? 'F' : o == Outcome::Second ? 'S' : 'U';
            [[maybe_unused]] ssize_t n = write(done[1], &r, 1);
            if (read(hold[0], &c, 1) != 0) _exit(4);
            _exit(0);
        }
        children.push_back(pid);
    }
    close(go[0]);
    close(hold[0]);
    close(go[1]);
    std::string results;
    for (int i = 0; i < kStarts; ++i) {
        char r;
        ASSERT_EQ(read(done[0], &r, 1), 1);
        results += r;
    }
    close(hold[1]);
    for (pid_t pid : children) waitpid(pid, nullptr, 0);
    close(done[0]);
    close(done[1]);
    EXPECT_EQ(std::count(results.begin(), results.end(), 'F'), 1) << results;
    EXPECT_EQ(std::count(results.begin(), results.end(), 'S'), kStarts - 1) << results;
}

// Runs `work` in a child process as the user nobody; its exit code.
template <class Work>
int AsAnotherUser(Work work) {
    const pid_t child = fork();
    if (child == 0) {
        if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) _exit(9);
        _exit(work());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
}

// Where no runtime folder of the user's own is set, the lock and the socket go into a folder
// made private; one another user made first, or a runtime folder others may write in, is
// never used.
TEST(InstanceLock, OnlyAFolderOfTheUsersOwnClosedToOthersHoldsTheLock) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    TempDir dir;
    fs::permissions(dir.path(), fs::perms::all | fs::perms::sticky_bit);
    const std::string runtime = dir.str() + "run";
    fs::create_directory(runtime);
    fs::permissions(runtime, fs::perms::all);
    setenv("TMPDIR", dir.path().c_str(), 1);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    std::string why;
    const std::string own = dir.str() + "tallimer-" + std::to_string(getuid());
    EXPECT_EQ(InstanceLock::PrivateFolder(false, &why), "");  // not made when not asked
    EXPECT_EQ(InstanceLock::PrivateFolder(true, &why), own);
    EXPECT_EQ(fs::status(own).permissions(), fs::perms::owner_all);
    fs::permissions(runtime, fs::perms::owner_all);
    EXPECT_EQ(InstanceLock::PrivateFolder(true), runtime);

    unsetenv("XDG_RUNTIME_DIR");
    fs::remove(own);
    ASSERT_EQ(AsAnotherUser([&] { return mkdir(own.c_str(), 0777) == 0 ? 0 : 1; }), 0);
    EXPECT_EQ(InstanceLock::PrivateFolder(true, &why), "");
    EXPECT_EQ(why, "le dossier « " + own +
                       " » n'est pas un dossier privé de cet utilisateur (un autre utilisateur a "
                       "pu le créer)");
    // Closed to everyone but that user: still theirs.
    fs::remove(own);
    ASSERT_EQ(AsAnotherUser([&] { return mkdir(own.c_str(), 0700) == 0 ? 0 : 1; }), 0);
    EXPECT_EQ(InstanceLock::PrivateFolder(true), "");
    unsetenv("TMPDIR");
}

// Each end of the hand-over talks only to the same user: another user's listener is never
// asked for figures, and another user's show request is never heard.
TEST(InstanceServer, AnotherUsersPeerIsNeitherAskedNorHeard) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    TempDir dir;
    fs::permissions(dir.path(), fs::perms::all);
    const std::string ours = dir.str() + "ours.socket", theirs = dir.str() + "theirs.socket";
    InstanceServer server;
    ASSERT_TRUE(server.listen(ours));
    fs::permissions(ours, fs::perms::all);
    QSignalSpy shown(&server, &InstanceServer::showRequested);
    QProcess forger;  // another user's listener, answering anything with forged figures
    forger.start("setpriv",
                 {"--reuid=65534", "--regid=65534", "--clear-groups", "/usr/bin/python3", "-c",
                  "import socket,sys\ns=socket.socket(socket.AF_UNIX)\n"
                  "s.bind(sys.argv[1]); s.listen(8); print('ready', flush=True)\n"
                  "while True:\n c,_=s.accept(); c.recv(64)\n"
                  " c.sendall(b'etat 1\\nfin\\n'); c.close()",
                  QString::fromStdString(theirs)});
    ASSERT_TRUE(forger.waitForReadyRead(10000)) << forger.readAllStandardError().toStdString();
    bool listened = true;
    EXPECT_FALSE(AskState(theirs, 2000, &listened));
    EXPECT_FALSE(listened);
    EXPECT_FALSE(SendShowMessage(theirs));
    forger.kill();
    forger.waitForFinished();

    EXPECT_EQ(AsAnotherUser([&] { return SendShowMessage(ours) ? 0 : 1; }), 1);
    EXPECT_TRUE(SendShowMessage(ours));
    ASSERT_TRUE(shown.wait(5000));
    EXPECT_EQ(shown.count(), 1);
}

// Sixteen clients that connect and say nothing whole hold no place for long: a second start's
// show request still arrives.
TEST(InstanceServer, IdleClientsDoNotBlindTheHandOver) {
    TempDir dir;
    const std::string path = dir.str() + "s.socket";
    InstanceServer server;
    ASSERT_TRUE(server.listen(path));
    QSignalSpy shown(&server, &InstanceServer::showRequested);
    std::vector<std::unique_ptr<QLocalSocket>> idle;
    for (int i = 0; i < 16; ++i) {
        idle.push_back(std::make_unique<QLocalSocket>());
        idle.back()->connectToServer(QString::fromStdString(path));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return idle.back()->state() == QLocalSocket::ConnectedState; }, 5000));
        idle.back()->write("et");
        idle.back()->flush();
    }
    QCoreApplication::processEvents();
    std::atomic<bool> sent = false;
    std::thread second([&] { sent = SendShowMessage(path); });
    EXPECT_TRUE(shown.wait(10000));
    second.join();
    EXPECT_TRUE(sent);
    // The idle ones are let go, the last one too.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return idle.back()->state() == QLocalSocket::UnconnectedState; }, 10000));
}

// Whatever fails, no process started by a test outlives it.
struct Reap {
    QProcess& p;
    ~Reap() {
        if (p.state() == QProcess::NotRunning) return;
        p.kill();
        p.waitForFinished();
    }
};

// Leaves a socket file that nobody listens on, as a crashed copy does.
void LeaveStaleSocket(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    close(fd);
    ASSERT_TRUE(std::filesystem::exists(path));
}

TEST(InstanceServer, StaleSocketIsReplacedAndTheShowMessageArrives) {
    TempDir dir;
    InstanceLock lock(dir.path().string());
    ASSERT_EQ(lock.acquire(), Outcome::First);
    LeaveStaleSocket(lock.socketPath());
    EXPECT_FALSE(SomeoneListens(lock.socketPath()));

    InstanceServer server;
    ASSERT_TRUE(server.listen(lock.socketPath()));
    QSignalSpy shown(&server, &InstanceServer::showRequested);
    EXPECT_TRUE(SendShowMessage(lock.socketPath()));
    EXPECT_TRUE(shown.wait(5000));
    EXPECT_EQ(shown.count(), 1);
}

TEST(InstanceServer, LiveServerIsNeverRemoved) {
    TempDir dir;
    const std::string path = dir.str() + "live.socket";
    InstanceServer running;
    ASSERT_TRUE(running.listen(path));
    InstanceServer intruder;
    EXPECT_FALSE(intruder.listen(path));
    QSignalSpy shown(&running, &InstanceServer::showRequested);
    EXPECT_TRUE(SendShowMessage(path));
    EXPECT_TRUE(shown.wait(5000));
}

TEST(InstanceServer, OnlyTheShowMessageShows) {
    TempDir dir;
    const std::string path = dir.str() + "s.socket";
    InstanceServer server;
    ASSERT_TRUE(server.listen(path));
    QSignalSpy shown(&server, &InstanceServer::showRequested);

    QLocalSocket noise;
    noise.connectToServer(QString::fromStdString(path));
    ASSERT_TRUE(noise.waitForConnected(5000));
    noise.write("2023\nhello\n20");  // the "20" ends in the next write
    noise.flush();
    noise.write("24\n");
    noise.flush();
    noise.disconnectFromServer();

    EXPECT_TRUE(shown.wait(5000));
    EXPECT_EQ(shown.count(), 1);
    EXPECT_FALSE(SendShowMessage(dir.str() + "nobody.socket"));
}

// Two sessions (or two users) with their own runtime folders share one data folder: the
// second copy reaches the first through the folder's lock and ends having written nothing;
// once the first has ended, a start runs.
TEST(DataFolderLock, ASecondCopyOnTheSameDataEndsWithoutWritingWhateverItsRuntimeFolder) {
    namespace fs = std::filesystem;
    const fs::path source = tallimer::test::Env("TALLIMER_SOURCE_DIR");
    const fs::path program = tallimer::test::BuildDir() / "app" / "tallimer";
    ASSERT_TRUE(fs::exists(program)) << program;
    TempDir dir;
    fs::copy(source / "data", dir.path(), fs::copy_options::recursive);
    fs::copy_file(program, dir.path() / "tallimer");
    auto launch = [&](QProcess& p, const char* runtime) {
        fs::create_directory(dir.path() / runtime);
        fs::permissions(dir.path() / runtime, fs::perms::owner_all);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_RUNTIME_DIR", QString::fromStdString((dir.path() / runtime).string()));
        p.setProcessEnvironment(env);
        p.start(QString::fromStdString((dir.path() / "tallimer").string()), {});
        ASSERT_TRUE(p.waitForStarted(10000));
    };
    auto snapshot = [&] {
        std::vector<std::string> files;
        for (const auto& e : fs::recursive_directory_iterator(dir.path())) {
            if (e.path().string().find("/run") != std::string::npos) continue;
            files.push_back(e.path().string() + " " +
                            (e.is_regular_file() ? tallimer::test::ReadFile(e.path()) : ""));
        }
        std::sort(files.begin(), files.end());
        return files;
    };

    QProcess first, second;
    Reap reapFirst{first}, reapSecond{second};
    launch(first, "run1");
    // The first copy is up once it listens; it holds the folder and says there where.
    const std::string socket = dir.str() + "run1/tallimer-" + std::to_string(getuid()) + ".socket";
    for (int i = 0; i < 1200 && !SomeoneListens(socket); ++i) {
        QThread::msleep(50);
        ASSERT_EQ(first.state(), QProcess::Running) << first.readAllStandardError().toStdString();
    }
    DataFolderLock probe(dir.str());
    ASSERT_EQ(probe.acquire(""), Outcome::Second);
    EXPECT_EQ(probe.holderSocket(), socket);
    // Listening comes before the window: the copy may still be laying out its files.
    auto before = snapshot();
    for (int i = 0; i < 100; ++i) {
        QThread::msleep(100);
        auto again = snapshot();
        if (again == before) break;
        before = std::move(again);
    }

    launch(second, "run2");
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_EQ(snapshot(), before);

    first.terminate();
    ASSERT_TRUE(first.waitForFinished(30000));
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_EQ(probe.acquire(""), Outcome::First);  // freed with its holder
}

// Another user's process holding the data folder's lock is never this user's running copy:
// in a folder closed to others' writes the lock is made anew and the program runs; where
// others may write, the program says why it cannot run.
TEST(DataFolderLock, AnotherUsersHoldIsNeverTakenForTheUsersCopy) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    const fs::path program = tallimer::test::BuildDir() / "app" / "tallimer";
    ASSERT_TRUE(fs::exists(program)) << program;
    TempDir dir;
    fs::copy(tallimer::test::Env("TALLIMER_SOURCE_DIR") + "/data", dir.path(),
             fs::copy_options::recursive);
    fs::copy_file(program, dir.path() / "tallimer");
    fs::permissions(dir.path(),
                    fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write);
    const std::string lock = dir.str() + ".tallimer.lock";
    // A lock file from before locks were closed to others: anyone could open and hold it.
    tallimer::test::WriteFile(lock, "");
    fs::permissions(lock, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                              fs::perms::others_read);
    {
        // Taken by the user's own copy, such a file is closed to others.
        DataFolderLock own(dir.str());
        ASSERT_EQ(own.acquire(""), Outcome::First);
        EXPECT_EQ(fs::status(lock).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    }
    fs::permissions(lock, fs::perms::group_read | fs::perms::others_read, fs::perm_options::add);
    auto intrude = [&](QProcess& p, const char* how) {
        p.start("setpriv",
                {"--reuid=65534", "--regid=65534", "--clear-groups", "/usr/bin/python3", "-c",
                 "import fcntl, os, sys, time\n"
                 "p = sys.argv[1]\n"
                 "if sys.argv[2] == 'plant':\n"
                 "    fd = os.open(p + '.x', os.O_CREAT | os.O_RDWR, 0o666)\n"
                 "    os.rename(p + '.x', p)\n"
                 "else:\n"
                 "    fd = os.open(p, os.O_RDONLY)\n"
                 "fcntl.flock(fd, fcntl.LOCK_EX)\n"
                 "print('ready', flush=True)\n"
                 "time.sleep(600)",
                 QString::fromStdString(lock), how});
        ASSERT_TRUE(p.waitForReadyRead(10000)) << p.readAllStandardError().toStdString();
    };
    QProcess intruder, copy;
    Reap reapIntruder{intruder}, reapCopy{copy};
    auto launch = [&] {
        fs::create_directories(dir.path() / "run");
        fs::permissions(dir.path() / "run", fs::perms::owner_all);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.str() + "run"));
        copy.setProcessEnvironment(env);
        copy.start(QString::fromStdString(dir.str() + "tallimer"), {});
        ASSERT_TRUE(copy.waitForStarted(10000));
    };

    intrude(intruder, "hold");
    launch();
    const std::string socket = dir.str() + "run/tallimer-" + std::to_string(getuid()) + ".socket";
    for (int i = 0; i < 1200 && !SomeoneListens(socket); ++i) {
        QThread::msleep(50);
        ASSERT_EQ(copy.state(), QProcess::Running) << copy.readAllStandardError().toStdString();
    }
    DataFolderLock probe(dir.str());
    ASSERT_EQ(probe.acquire(""), Outcome::Second);
    EXPECT_FALSE(probe.heldByAnotherUser());
    EXPECT_EQ(probe.holderSocket(), socket);
    EXPECT_EQ(fs::status(lock).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    copy.terminate();
    ASSERT_TRUE(copy.waitForFinished(30000));
    EXPECT_EQ(copy.exitCode(), 0);
    EXPECT_EQ(copy.readAllStandardError().toStdString(),
              "tallimer : un programme d'un autre utilisateur tenait le verrou du dossier de "
              "données « " +
                  dir.str() + " » ; ce verrou est remplacé et le programme démarre.\n");
    intruder.kill();
    intruder.waitForFinished();

    // Where others may write, their lock may be theirs to hold: nothing is started.
    fs::permissions(dir.path(), fs::perms::all);
    intrude(intruder, "plant");
    launch();
    ASSERT_TRUE(copy.waitForFinished(30000));
    EXPECT_EQ(copy.exitCode(), 1);
    EXPECT_EQ(copy.readAllStandardError().toStdString(),
              "tallimer : le dossier de données « " + dir.str() +
                  " » est tenu par un programme d'un autre utilisateur : le programme ne peut pas "
                  "démarrer sur ces données.\n");
}

}  // namespace
