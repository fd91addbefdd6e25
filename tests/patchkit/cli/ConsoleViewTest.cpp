#include "cli/ConsoleView.h"
#include "cli/InterruptWatcher.h"
#include "engine/Messages.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#include <unistd.h>

namespace {

using namespace std::chrono_literals;

std::string ContentsOf(std::FILE* file) {
    std::string text;
    std::rewind(file);
    for (int character = 0; (character = std::fgetc(file)) != EOF;) {
        text += static_cast<char>(character);
    }
    return text;
}

template <typename Condition> bool WaitFor(Condition condition) {
    for (int i = 0; i < 500 && !condition(); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    return condition();
}

TEST(ConsoleViewTest, PrintsLabelsProgressAndMessagesAsUtf8) {
    std::FILE* out = std::tmpfile();
    std::FILE* messages = std::tmpfile();
    ASSERT_TRUE(out && messages);
    ConsoleView view(out, messages, false);
    view.SetLatestVersionText(L"最新版本： 31.87");
    view.SetProgress(0);
    view.SetProgress(0);
    view.SetProgress(70);
    view.ReportAndQuit(TextOf(Message::CannotReadPackage).narrow);
    view.ReportAndQuit(std::wstring(TextOf(Message::CannotCreateTemporaryArchive).wide));
    EXPECT_EQ(ContentsOf(out), "最新版本： 31.87\n0%\n70%\n");
    EXPECT_EQ(ContentsOf(messages),
              "读取补丁文件失败！\n无法创建临时文件，请确保磁盘有足够可用空间！\n");
    std::fclose(out);
    std::fclose(messages);
}

TEST(ConsoleViewTest, TheProgressBarLineEndsBeforeTheNextLine) {
    std::FILE* out = std::tmpfile();
    ASSERT_TRUE(out);
    ConsoleView view(out, out, true);
    view.SetProgress(50);
    view.SetLocalVersionText(L"本地版本： 31.87");
    EXPECT_EQ(ContentsOf(out),
              "\r[####################....................]  50%\n本地版本： 31.87\n");
    std::fclose(out);
}

TEST(ConsoleViewTest, CancelWaitsUntilTheGuardedWriteHasEnded) {
    ConsoleView view(stdout, stderr, false);
    std::thread cancel;
    {
        CClient_MutexGuard guardedWrite(&view.ClientMutex());
        cancel = std::thread([&view] { view.Cancel(); });
        std::this_thread::sleep_for(100ms);
        EXPECT_FALSE(view.IsCancelled());
    }
    cancel.join();
    EXPECT_TRUE(view.IsCancelled());
}

TEST(ConsoleViewTest, CtrlCTakesTheCancelPathInsteadOfEndingTheProcess) {
    ConsoleView view(stdout, stderr, false);
    {
        InterruptWatcher watcher([&view] { view.Cancel(); });
        ASSERT_TRUE(watcher.Watching());
        {
            CClient_MutexGuard guardedWrite(&view.ClientMutex());
            ASSERT_EQ(kill(getpid(), SIGINT), 0);
            std::this_thread::sleep_for(100ms);
            EXPECT_FALSE(view.IsCancelled());
        }
        EXPECT_TRUE(WaitFor([&view] { return view.IsCancelled(); }));
    }
    // Afterwards the signal acts as usual again.
    sigset_t blocked;
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, nullptr, &blocked), 0);
    EXPECT_FALSE(sigismember(&blocked, SIGINT));
}

} // namespace
