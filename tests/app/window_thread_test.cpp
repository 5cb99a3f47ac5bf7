// WindowThread: how the upload job's calls reach the window thread.

#include "app/window_thread.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QObject>

#include <atomic>
#include <thread>
#include <vector>

namespace glimmerly {
namespace {

void ProcessEventsUntil(const std::atomic<bool>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done && timer.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

TEST(WindowThreadTest, QueuedAndWaitedCallsRunInTheOrderTheyWereMade) {
    QObject window;
    WindowThread thread(&window);
    std::vector<int> order; // touched on the window thread only
    std::atomic<bool> posted{false};
    std::atomic<bool> done{false};
    std::thread job([&] {
        thread.Post([&] { order.push_back(1); });
        thread.Post([&] { order.push_back(2); });
        posted = true; // Post came back although the window thread has run nothing yet
        thread.Run([&] { order.push_back(3); });
        thread.Post([&] { order.push_back(4); });
        thread.Run([&] { order.push_back(5); });
        done = true;
    });
    ProcessEventsUntil(posted);
    EXPECT_TRUE(posted);
    ProcessEventsUntil(done);
    job.join();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST(WindowThreadTest, PostRunsAtOnceOnTheWindowThreadAndNothingAfterShutdown) {
    QObject window;
    WindowThread thread(&window);
    bool ran = false;
    EXPECT_TRUE(thread.Post([&] { ran = true; }));
    EXPECT_TRUE(ran); // no event loop needed on its own thread

    // Queued before the window closes, run after: dropped.
    bool late = false;
    std::thread job([&] { EXPECT_TRUE(thread.Post([&] { late = true; })); });
    job.join();
    thread.Shutdown();
    QCoreApplication::processEvents();
    EXPECT_FALSE(late);
    EXPECT_FALSE(thread.Post([&] { late = true; }));
    EXPECT_FALSE(late);
}

TEST(WindowThreadTest, AQueuedRoutineThatThrowsDoesNotStopTheOnesAfterIt) {
    QObject window;
    WindowThread thread(&window);
    bool after = false;
    std::atomic<bool> done{false};
    std::thread job([&] {
        thread.Post([] { throw std::runtime_error("paint failed"); });
        thread.Run([&] { after = true; });
        done = true;
    });
    ProcessEventsUntil(done);
    job.join();
    EXPECT_TRUE(after);
}

} // namespace
} // namespace glimmerly
