#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/NamedLock.h"
#include "base/SettingsStore.h"
#include "core/HostTestAnswers.h"
#include "host/HostAnswerHandler.h"
#include "state/ActivityLists.h"
#include "support/CoreHarness.h"

namespace torvane {
namespace {

using test::AcceptedRunnerFields;
using test::DeliverPosted;
using test::IsolatedFolders;
using test::ResultAnswer;
using test::WaitUntil;
using test::WithFields;

std::string ResultForBib(int bib) {
    return ResultAnswer(WithFields(AcceptedRunnerFields(), {{10, std::to_string(bib)}}));
}

std::vector<int> Bibs(const SummaryListModel& summary) {
    std::vector<int> bibs;
    for (int i = 0; i < summary.Count(); ++i) bibs.push_back(summary.Item(i).bib);
    return bibs;
}

// Another process that holds the lock file until told to let it go. The child does nothing but
// system calls, as befits a fork of a process with threads.
class OtherProcessHoldingTheLock {
public:
    explicit OtherProcessHoldingTheLock(const std::string& path) {
        if (::pipe(ready_) != 0 || ::pipe(release_) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready_[0]);
            ::close(release_[1]);
            const int fd = ::open(path.c_str(), O_RDWR);
            char byte = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? 'y' : 'n';
            [[maybe_unused]] ssize_t io = ::write(ready_[1], &byte, 1);
            io = ::read(release_[0], &byte, 1);  // returns when the parent closes its end
            ::_exit(0);
        }
        ::close(ready_[1]);
        ::close(release_[0]);
        char byte = 0;
        held_ = pid_ > 0 && ::read(ready_[0], &byte, 1) == 1 && byte == 'y';
    }
    ~OtherProcessHoldingTheLock() {
        Release();
        ::close(ready_[0]);
    }
    bool Holds() const { return held_; }
    void Release() {
        if (pid_ <= 0) return;
        ::close(release_[1]);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    int ready_[2] = {-1, -1};
    int release_[2] = {-1, -1};
    pid_t pid_ = -1;
    bool held_ = false;
};

// Results of a burst are added under the named lock "Summary", which another holder of that name
// can take again as soon as the waiting messages have been handled.
TEST(SummaryLockTest, ABurstOfResultsHoldsTheLockUntilThePostedMessagesAreHandled) {
    IsolatedFolders folders;
    SummaryListModel summary;
    CResourceMutex other("Summary");
    {
        HostAnswerHandler answers(summary);
        for (int i = 0; i < 3; ++i) answers.OnHostLine(ResultAnswer(AcceptedRunnerFields()));
        EXPECT_EQ(summary.Count(), 3);
        EXPECT_TRUE(answers.HoldsSummaryLock());
        EXPECT_FALSE(other.TryLock());

        DeliverPosted();
        EXPECT_FALSE(answers.HoldsSummaryLock());
        ASSERT_TRUE(other.TryLock());
        other.Unlock();

        // The next burst takes it again.
        answers.OnHostLine(ResultAnswer(AcceptedRunnerFields()));
        EXPECT_TRUE(answers.HoldsSummaryLock());
    }
    // A handler that goes away lets the lock go with it.
    EXPECT_TRUE(other.TryLock());
    other.Unlock();
}

// While another process holds the lock, results wait instead of stalling the window thread, and
// reach the list in their order once it comes free.
TEST(SummaryLockTest, ResultsWaitInOrderWhileAnotherProcessHoldsTheLock) {
    IsolatedFolders folders;
    SummaryListModel summary;
    HostAnswerHandler answers(summary);
    const auto path = NamedLockPath("Summary");
    ASSERT_TRUE(path);
    OtherProcessHoldingTheLock other(*path);
    ASSERT_TRUE(other.Holds());

    for (int bib = 1; bib <= 3; ++bib) answers.OnHostLine(ResultForBib(bib));
    EXPECT_EQ(summary.Count(), 0);
    EXPECT_EQ(answers.WaitingRowCount(), 3);
    EXPECT_FALSE(answers.HoldsSummaryLock());
    DeliverPosted();
    answers.OnHostLine(ResultForBib(4));  // a later burst, the lock still busy
    EXPECT_EQ(summary.Count(), 0);

    other.Release();
    ASSERT_TRUE(WaitUntil([&] { return summary.Count() == 4; }));
    answers.OnHostLine(ResultForBib(5));
    EXPECT_EQ(Bibs(summary), (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(answers.WaitingRowCount(), 0);
}

// The lock file lies in the runtime folder, or in a folder of this user's own, never open to
// other users.
class LockFilePlaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
            if (const char* value = std::getenv(name)) saved_.emplace_back(name, value);
        }
        uid_ = std::to_string(::geteuid());
    }
    void TearDown() override {
        ::unsetenv("XDG_RUNTIME_DIR");
        ::unsetenv("TMPDIR");
        for (const auto& [name, value] : saved_) ::setenv(name.c_str(), value.c_str(), 1);
    }
    static mode_t ModeOf(const std::string& path) {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & (S_IFMT | 07777) : 0;
    }

    test::TempFolder root_;
    std::string uid_;
    std::vector<std::pair<std::string, std::string>> saved_;
};

TEST_F(LockFilePlaceTest, RuntimeFolderOrAPrivateFolderOfMode0700) {
    const std::string runtime = root_.Path() + "/runtime";
    const std::string temporary = root_.Path() + "/tmp";
    const std::string privateFolder = temporary + "/torvane-" + uid_;
    const std::string fileName = "/Torvane-Summary-" + uid_ + ".lock";
    MakeDirectories(runtime);
    MakeDirectories(temporary);
    const struct {
        const char* what;
        bool runtimeSet;
        std::function<void()> before;
        std::optional<std::string> path;
    } cases[] = {
        {"runtime folder", true, nullptr, runtime + fileName},
        {"runtime folder, file left open to all", true,
         [&] {
             test::WriteFile(runtime + fileName, "");
             ::chmod((runtime + fileName).c_str(), 0666);
         },
         runtime + fileName},
        {"no runtime folder", false, nullptr, privateFolder + fileName},
        {"private folder left open to all", false,
         [&] {
             MakeDirectories(privateFolder);
             ::chmod(privateFolder.c_str(), 0777);
         },
         privateFolder + fileName},
        {"a link in place of the private folder", false,
         [&] {
             MakeDirectories(root_.Path() + "/elsewhere");
             ASSERT_EQ(::symlink((root_.Path() + "/elsewhere").c_str(), privateFolder.c_str()), 0);
         },
         std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ::unsetenv("XDG_RUNTIME_DIR");
        ::setenv("TMPDIR", temporary.c_str(), 1);
        if (c.runtimeSet) ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        if (c.before) c.before();

        EXPECT_EQ(NamedLockPath("Summary"), c.path);
        CResourceMutex lock("Summary");
        EXPECT_EQ(lock.IsUsable(), c.path.has_value());
        if (c.path) {
            EXPECT_EQ(ModeOf(*c.path), static_cast<mode_t>(S_IFREG | 0600));
            if (!c.runtimeSet) {
                EXPECT_EQ(ModeOf(privateFolder), static_cast<mode_t>(S_IFDIR | 0700));
            }
            EXPECT_TRUE(lock.TryLock());
            lock.Unlock();
        }
        ::unlink((runtime + fileName).c_str());
        ::unlink((privateFolder + fileName).c_str());
        ::unlink(privateFolder.c_str());
        ::rmdir(privateFolder.c_str());
    }
}

// Without a usable lock there is nothing to keep in step with: rows are added at once.
TEST_F(LockFilePlaceTest, WithoutAPlaceForTheLockResultsAreAddedAtOnce) {
    MakeDirectories(root_.Path() + "/elsewhere");
    ASSERT_EQ(::symlink((root_.Path() + "/elsewhere").c_str(),
                        (root_.Path() + "/torvane-" + uid_).c_str()),
              0);
    ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("TMPDIR", root_.Path().c_str(), 1);
    SummaryListModel summary;
    HostAnswerHandler answers(summary);
    answers.OnHostLine(ResultForBib(8));
    EXPECT_EQ(Bibs(summary), std::vector<int>{8});
}

}  // namespace
}  // namespace torvane
