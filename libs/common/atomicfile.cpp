#include "atomicfile.h"

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The permissions a plain fopen(path, "w") would give a new file.
mode_t NewFileMode()
{
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

AtomicFile::~AtomicFile()
{
    Discard();
}

void AtomicFile::Discard()
{
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
    if (!m_temp.empty()) {
        std::remove(m_temp.c_str());
        m_temp.clear();
    }
    m_ok = false;
}

bool AtomicFile::Open(const std::string& path)
{
    Discard();
    m_path = path;
    std::string temp = path + ".tmp-XXXXXX";
    m_fd = mkstemp(temp.data());
    if (m_fd < 0)
        return false;
    m_temp = temp;
    m_ok = fchmod(m_fd, NewFileMode()) == 0;
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
    // Some file systems report a failed write only when the file is closed.
    const bool closed = close(m_fd) == 0;
    m_fd = -1;
    if (!m_ok || !closed || std::rename(m_temp.c_str(), m_path.c_str()) != 0) {
        Discard();
        return false;
    }
    m_temp.clear();
    return true;
}

bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size)
{
    AtomicFile file;
    return file.Open(path) && file.Write(data, size) && file.Commit();
}
