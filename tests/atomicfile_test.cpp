// Atomic replacement of a file: permissions kept, data synced before the rename, no name that
// exists ever opened, concurrent writers apart, and the temporary file removed when a signal
// ends the process. fsync and rename are interposed here to see the order of the calls.
#include "atomicfile.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// "fsync <inode>" and "rename", in the order the calls were made.
std::vector<std::string> g_calls;

}  // namespace

extern "C" int fsync(int fd)
{
    struct stat st {};
    fstat(fd, &st);
    g_calls.push_back("fsync " + std::to_string(st.st_ino));
    return static_cast<int>(syscall(SYS_fsync, fd));
}

extern "C" int rename(const char* from, const char* to) noexcept
{
    g_calls.push_back("rename");
    return static_cast<int>(syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, 0));
}

namespace {

using testutil::ReadFile;
using testutil::TempDir;

std::size_t EntryCount(const TempDir& dir)
{
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir.path()), {}));
}

ino_t Inode(const std::string& path)
{
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_ino;
}

mode_t Mode(const std::string& path)
{
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

TEST(AtomicFile, KeepsTheReplacedFilesModeAndSyncsBeforeTheRename)
{
    struct Case {
        int existingMode;  // -1: no file yet
        mode_t umask, want;
    };
    const Case cases[] = {{0600, 022, 0600}, {0640, 077, 0640}, {0755, 022, 0755}, {-1, 022, 0644}, {-1, 077, 0600}};
    TempDir dir;
    const std::string path = dir.file("out");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.existingMode);
        std::filesystem::remove(path);
        if (c.existingMode >= 0) {
            testutil::WriteFile(path, "old");
            chmod(path.c_str(), static_cast<mode_t>(c.existingMode));
        }
        const mode_t saved = umask(c.umask);
        g_calls.clear();
        const bool written = WriteFileAtomically(path, "new", 3);
        umask(saved);
        ASSERT_TRUE(written);
        EXPECT_EQ("new", ReadFile(path));
        EXPECT_EQ(c.want, Mode(path));
        EXPECT_EQ((std::vector<std::string>{"fsync " + std::to_string(Inode(path)), "rename"}), g_calls);
    }

    // A write past the file size limit fails, SIGXFSZ ending nothing: nothing is synced or
    // renamed, and the earlier file is all that is left.
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &small);
    g_calls.clear();
    const std::string big(10000, 'x');
    const bool written = WriteFileAtomically(path, big.data(), big.size());
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_FALSE(written);
    EXPECT_TRUE(g_calls.empty());
    EXPECT_EQ("new", ReadFile(path));
    EXPECT_EQ(1u, EntryCount(dir));
}

// No temporary file can be made in a missing directory, nor beyond 8 at once: Open fails and
// leaves no file. Every descriptor and place taken is given back, and no other is closed.
TEST(AtomicFile, OpenFailsCleanly)
{
    TempDir dir;
    AtomicFile missing;
    EXPECT_FALSE(missing.Open(dir.file("missing/out")));
    const int lowestFree = dup(0);
    close(lowestFree);
    for (int round = 0; round < 2; ++round) {
        std::vector<AtomicFile> files(9);
        for (int i = 0; i < 8; ++i)
            ASSERT_TRUE(files[i].Open(dir.file("out" + std::to_string(i))));
        EXPECT_FALSE(files[8].Open(dir.file("out8")));
        EXPECT_EQ(8u, EntryCount(dir));
    }
    EXPECT_EQ(0u, EntryCount(dir));
    EXPECT_NE(-1, fcntl(0, F_GETFD));
    const int lowestFreeAfter = dup(0);
    close(lowestFreeAfter);
    EXPECT_EQ(lowestFree, lowestFreeAfter);
}

// The fixed name "<path>.tmp" that a writer might use is a symbolic link to a victim, and
// another is a directory: neither is touched. Two processes replacing one file 50 times
// each never meet in a temporary file: every write succeeds and leaves one whole version.
TEST(AtomicFile, NeverOpensANameThatExistsAndWritersDoNotCollide)
{
    TempDir dir;
    const std::string path = dir.file("out");
    testutil::WriteFile(dir.file("victim"), "victim");
    std::filesystem::create_symlink(dir.file("victim"), path + ".tmp");
    std::filesystem::create_directory(path + ".tmp-XXXXXX");
    const std::string versions[2] = {std::string(100000, 'a'), std::string(50000, 'b')};
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            int failures = 0;
            for (int i = 0; i < 50; ++i)
                failures += !WriteFileAtomically(path, versions[c].data(), versions[c].size());
            _exit(failures);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    const std::string final = ReadFile(path);
    EXPECT_TRUE(final == versions[0] || final == versions[1]);
    EXPECT_EQ("victim", ReadFile(dir.file("victim")));
    EXPECT_TRUE(std::filesystem::is_symlink(path + ".tmp"));
    EXPECT_EQ(4u, EntryCount(dir));
}

// A child is ended by each signal part way through its write: the signal still ends it, and
// only the earlier file is left. An ignored SIGHUP stays ignored, and once the file is
// committed the earlier dispositions are back.
TEST(AtomicFile, EndingSignalsRemoveTheTemporaryFile)
{
    TempDir dir;
    const std::string path = dir.file("out");
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        testutil::WriteFile(path, "earlier");
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            AtomicFile file;
            if (file.Open(path) && file.Write("partial", 7))
                raise(signal);
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        EXPECT_EQ("earlier", ReadFile(path));
        EXPECT_EQ(1u, EntryCount(dir));
    }

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGHUP, SIG_IGN);
        AtomicFile file;
        if (!file.Open(path) || !file.Write("later", 5))
            _exit(1);
        raise(SIGHUP);
        if (!file.Commit())
            _exit(2);
        struct sigaction term {}, hup {}, xfsz {};
        sigaction(SIGTERM, nullptr, &term);
        sigaction(SIGHUP, nullptr, &hup);
        sigaction(SIGXFSZ, nullptr, &xfsz);
        _exit(term.sa_handler == SIG_DFL && hup.sa_handler == SIG_IGN && xfsz.sa_handler == SIG_DFL ? 0 : 3);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ("later", ReadFile(path));
}

}  // namespace
