#include "atomicfile.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The signals that end a run from outside: on any of them the temporary files are removed
// before the signal takes its course.
constexpr int k_endingSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int k_signalCount = sizeof k_endingSignals / sizeof k_endingSignals[0];

// Temporary files that exist at once in this process; Open fails beyond this.
constexpr int k_maxTemporaries = 8;

// The paths of the temporary files now open, read by the signal handler. A slot holds the
// c_str() of an AtomicFile's m_temp, which stays unchanged while it is registered.
std::atomic<const char*> s_temporaries[k_maxTemporaries];
static_assert(std::atomic<const char*>::is_always_lock_free, "the signal handler reads the slots");

int s_registered = 0;
struct sigaction s_previous[k_signalCount];
struct sigaction s_previousXfsz;

// Removes every registered temporary file, puts back the disposition the signal had before
// and raises it again, so the process ends (or goes on) as it would have without us. Uses
// only async-signal-safe calls.
void RemoveTemporariesAndReraise(int signal)
{
    for (std::atomic<const char*>& slot : s_temporaries)
        if (const char* path = slot.load())
            unlink(path);
    for (int i = 0; i < k_signalCount; ++i)
        if (k_endingSignals[i] == signal)
            sigaction(signal, &s_previous[i], nullptr);
    raise(signal);
}

// While a temporary file exists, the ending signals remove it first (a signal that was
// ignored stays ignored), and a file size limit makes the write fail with EFBIG instead of
// killing the process.
void InstallHandlers()
{
    struct sigaction handler {};
    handler.sa_handler = RemoveTemporariesAndReraise;
    sigemptyset(&handler.sa_mask);
    for (int i = 0; i < k_signalCount; ++i) {
        sigaction(k_endingSignals[i], nullptr, &s_previous[i]);
        if (s_previous[i].sa_handler != SIG_IGN)
            sigaction(k_endingSignals[i], &handler, nullptr);
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGXFSZ, &ignore, &s_previousXfsz);
}

void RestoreHandlers()
{
    for (int i = 0; i < k_signalCount; ++i)
        sigaction(k_endingSignals[i], &s_previous[i], nullptr);
    sigaction(SIGXFSZ, &s_previousXfsz, nullptr);
}

// Blocks the ending signals for its lifetime, so that creating and registering a temporary
// file happens as one step.
class BlockEndingSignals {
public:
    BlockEndingSignals()
    {
        sigset_t set;
        sigemptyset(&set);
        for (int signal : k_endingSignals)
            sigaddset(&set, signal);
        sigprocmask(SIG_BLOCK, &set, &m_saved);
    }
    ~BlockEndingSignals() { sigprocmask(SIG_SETMASK, &m_saved, nullptr); }
    BlockEndingSignals(const BlockEndingSignals&) = delete;
    BlockEndingSignals& operator=(const BlockEndingSignals&) = delete;

private:
    sigset_t m_saved;
};

// The permissions a plain fopen(path, "w") would give a new file.
mode_t NewFileMode()
{
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// The permissions of the file that `path` replaces, or those of a new file.
mode_t ReplacedFileMode(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        return st.st_mode & 07777;
    return NewFileMode();
}

}  // namespace

AtomicFile::~AtomicFile()
{
    Discard();
}

void AtomicFile::Register()
{
    for (int i = 0; i < k_maxTemporaries; ++i) {
        const char* expected = nullptr;
        if (s_temporaries[i].compare_exchange_strong(expected, m_temp.c_str())) {
            if (s_registered++ == 0)
                InstallHandlers();
            m_slot = i;
            return;
        }
    }
}

void AtomicFile::Unregister()
{
    if (m_slot < 0)
        return;
    s_temporaries[m_slot].store(nullptr);
    m_slot = -1;
    if (--s_registered == 0)
        RestoreHandlers();
}

void AtomicFile::Discard()
{
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
    // Removed before it is unregistered: a signal in between finds it already gone.
    if (!m_temp.empty())
        unlink(m_temp.c_str());
    Unregister();
    m_temp.clear();
    m_ok = false;
}

bool AtomicFile::Open(const std::string& path)
{
    Discard();
    try {
        m_path = path;
        m_temp = path + ".tmp-XXXXXX";
    } catch (...) {
        return false;
    }
    const mode_t mode = ReplacedFileMode(path);
    {
        BlockEndingSignals blocked;
        // mkstemp creates the file with O_EXCL: it never opens a name that exists, such as a
        // symbolic link planted there, and two writers never share a temporary file.
        m_fd = mkstemp(m_temp.data());
        if (m_fd < 0) {
            m_temp.clear();
            return false;
        }
        Register();
    }
    m_ok = m_slot >= 0 && fchmod(m_fd, mode) == 0;
    if (!m_ok)
        Discard();
    return m_ok;
}

bool AtomicFile::Write(const void* data, std::size_t size)
{
    const char* p = static_cast<const char*>(data);
    // Goes on after a short write or an interrupted call.
    while (m_ok && size > 0) {
        const ssize_t written = write(m_fd, p, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            m_ok = false;
            break;
        }
        p += written;
        size -= static_cast<std::size_t>(written);
    }
    return m_ok;
}

bool AtomicFile::Commit()
{
    if (m_fd < 0)
        return false;
    // The data reaches the disk before the name does; some file systems report a failed
    // write only when the file is synced or closed.
    const bool synced = m_ok && fsync(m_fd) == 0;
    const bool closed = close(m_fd) == 0;
    m_fd = -1;
    if (!synced || !closed || std::rename(m_temp.c_str(), m_path.c_str()) != 0) {
        Discard();
        return false;
    }
    Unregister();
    m_temp.clear();
    return true;
}

bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size)
{
    AtomicFile file;
    return file.Open(path) && file.Write(data, size) && file.Commit();
}
