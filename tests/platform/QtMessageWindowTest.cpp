#include "ScopedRuntimeDir.h"
#include "TQtMessageWindow.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace qrv {
namespace {

using Message = std::tuple<uint32_t, uint32_t, uint32_t>;

template <typename Done>
bool PumpUntil(Done done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

TEST(QtMessageWindow, MessagesFromOtherProcessesAndThreadsReachTheHandlerInTheLoopThread)
{
    test::ScopedRuntimeDir runtime;
    std::vector<Message> received;
    bool allInLoopThread = true;
    TQtMessageWindow window([&](uint32_t m, uint32_t w, uint32_t l) {
        allInLoopThread = allInLoopThread && QThread::currentThread() == QCoreApplication::instance()->thread();
        received.emplace_back(m, w, l);
    });
    ASSERT_TRUE(window.IsValid());
    const uint32_t handle = window.Handle();

    const pid_t child = ::fork();
    if (child == 0) {
        bool ok = true;
        for (uint32_t i = 0; i < 100; ++i)
            ok = PostMessage(handle, 34049, i, 0, 2000) && ok;
        ::_exit(ok ? 0 : 1);
    }
    std::thread poster([&] { PostMessage(handle, 34050, 1000, 1, 2000); });

    EXPECT_TRUE(PumpUntil([&] { return received.size() >= 101; }, 5000));
    poster.join();
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(allInLoopThread);

    // The child's messages keep their order among themselves.
    std::vector<uint32_t> fromChild;
    for (const auto& [m, w, l] : received)
        if (m == 34049)
            fromChild.push_back(w);
    ASSERT_EQ(fromChild.size(), 100u);
    for (uint32_t i = 0; i < 100; ++i)
        EXPECT_EQ(fromChild[i], i);
    EXPECT_EQ(std::count(received.begin(), received.end(), Message(34050, 1000, 1)), 1);
}

} // namespace
} // namespace qrv

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
