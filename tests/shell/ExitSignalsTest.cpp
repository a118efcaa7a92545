#include "shell/ExitSignals.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <csignal>
#include <stdexcept>

using tallimer::ExitSignals;

namespace {

TEST(ExitSignals, TermIntAndHupArriveOnTheEventLoop) {
    ExitSignals watcher;
    QSignalSpy spy(&watcher, &ExitSignals::exitRequested);
    for (int s : {SIGTERM, SIGINT, SIGHUP}) {
        ASSERT_EQ(std::raise(s), 0);
        // Nothing happens inside the handler: the Qt signal comes from the loop.
        EXPECT_EQ(spy.count(), 0);
        ASSERT_TRUE(spy.wait(5000));
        EXPECT_EQ(spy.takeFirst().at(0).toInt(), s);
    }
}

TEST(ExitSignals, OneWatcherPerProcess) {
    ExitSignals watcher;
    EXPECT_THROW(ExitSignals second, std::logic_error);
}

TEST(ExitSignals, AWatcherCanFollowAnother) {
    { ExitSignals first; }
    ExitSignals second;
    QSignalSpy spy(&second, &ExitSignals::exitRequested);
    ASSERT_EQ(std::raise(SIGHUP), 0);
    EXPECT_TRUE(spy.wait(5000));
}

}  // namespace
