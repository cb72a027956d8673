// Atomic replacement of a file: permissions kept, the whole data synced, no name that exists
// ever opened, and the temporary file removed when a signal ends the process. fsync is
// interposed here to see what is synced. A write that fails part way is tested through the
// table writer (tables_test).
#include "atomicfile.h"
#include "testutil.h"

#include <array>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

static std::string g_synced;  // the content of each file synced, in the order of the calls

extern "C" int fsync(int fd)
{
    g_synced += testutil::ReadFile("/proc/self/fd/" + std::to_string(fd)) + ";";
    return static_cast<int>(syscall(SYS_fsync, fd));
}

static long EntryCount(const testutil::TempDir& dir)
{
    return std::distance(std::filesystem::directory_iterator(dir.path()), {});
}

// A new file gets 0666 less the umask, as fopen would give it; a replaced file keeps its
// mode. The fixed name "<path>.tmp" that a writer might use is a symbolic link to a victim,
// which is never touched.
TEST(AtomicFile, KeepsTheModeSyncsTheDataAndNeverOpensANameThatExists)
{
    testutil::TempDir dir;
    const std::string path = dir.file("out");
    testutil::WriteFile(dir.file("victim"), "victim");
    std::filesystem::create_symlink(dir.file("victim"), path + ".tmp");
    for (const auto& [existingMode, mask, want] :
         {std::array<mode_t, 3>{0640, 077, 0640}, {0, 022, 0644}, {0, 027, 0640}}) {
        std::filesystem::remove(path);
        if (existingMode != 0) {
            testutil::WriteFile(path, "old");
            chmod(path.c_str(), existingMode);
        }
        const mode_t saved = umask(mask);
        EXPECT_TRUE(WriteFileAtomically(path, "n", 1));
        umask(saved);
        const auto mode = static_cast<mode_t>(std::filesystem::status(path).permissions());
        EXPECT_EQ(std::tuple("n;", "n", want), std::tuple(std::exchange(g_synced, ""), testutil::ReadFile(path), mode));
    }
    EXPECT_EQ(std::tuple("victim", 3), std::tuple(testutil::ReadFile(dir.file("victim")), EntryCount(dir)));
}

// Up to 8 temporary files exist at once, each under its own name even for one path; Open
// fails beyond that, leaving no file (and in a missing directory: chartlab_test). Every
// descriptor and place taken is given back (by a committed file too), and no other is closed.
TEST(AtomicFile, OpenFailsCleanly)
{
    testutil::TempDir dir;
    ASSERT_TRUE(WriteFileAtomically(dir.file("committed"), "", 0));
    const int lowestFree = dup(0);
    close(lowestFree);
    for (int round = 0; round < 2; ++round) {
        std::vector<AtomicFile> files(9);
        for (int i = 0; i < 8; ++i)
            ASSERT_TRUE(files[i].Open(dir.file("out")));
        EXPECT_FALSE(files[8].Open(dir.file("out")));
        EXPECT_EQ(9, EntryCount(dir));
    }
    EXPECT_EQ(std::tuple(1, lowestFree, true), std::tuple(EntryCount(dir), dup(0), fcntl(0, F_GETFD) != -1));
    close(lowestFree);
}

// A child is ended by each signal part way through its write: the signal still ends it, and
// only the earlier file is left. An ignored SIGHUP stays ignored, and once the file is
// committed the handlers are as they were before.
TEST(AtomicFile, EndingSignalsRemoveTheTemporaryFile)
{
    testutil::TempDir dir;
    const std::string path = dir.file("out");
    testutil::WriteFile(path, "earlier");
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const pid_t child = fork();
        if (child == 0) {
            AtomicFile file;
            _exit(file.Open(path) && file.Write("partial", 7) ? raise(signal) : 0);
        }
        int status = -1;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        EXPECT_EQ(std::tuple("earlier", 1), std::tuple(testutil::ReadFile(path), EntryCount(dir)));
    }
    const pid_t child = fork();
    if (child == 0) {
        std::signal(SIGHUP, SIG_IGN);
        AtomicFile file;
        const bool committed = file.Open(path) && file.Write("later", 5) && raise(SIGHUP) == 0 && file.Commit();
        // std::signal gives the handler it replaces.
        const bool restored = std::signal(SIGTERM, SIG_DFL) == SIG_DFL && std::signal(SIGHUP, SIG_DFL) == SIG_IGN;
        _exit(committed && restored && std::signal(SIGXFSZ, SIG_DFL) == SIG_DFL ? 0 : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ("later", testutil::ReadFile(path));
}
