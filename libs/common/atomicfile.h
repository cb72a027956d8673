// Atomic file replacement: a file is written under a uniquely created temporary name in the
// directory of its final path ("<path>.tmp-XXXXXX", created exclusively, so a name that
// exists, a planted symbolic link among them, is never opened) and renamed over that path only
// when every byte was written and synced to the disk, so readers see either the old file whole
// or the new one whole, and a failed write leaves the old file untouched and no temporary
// behind. The new file keeps the permissions of the file it replaces; a file that did not
// exist gets those a plain fopen would give it.
//
// While a temporary file exists, SIGINT, SIGTERM and SIGHUP remove it before they take their
// course (a signal that was ignored stays ignored), and SIGXFSZ is ignored, so that a file
// size limit makes the write fail instead of killing the process. The previous dispositions
// are restored when the last temporary file is gone. At most 8 temporary files exist at once;
// not thread-safe.
#pragma once

#include <cstddef>
#include <string>

class AtomicFile {
public:
    AtomicFile() = default;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    // Removes the temporary file when Commit was not reached.
    ~AtomicFile();

    // Creates the temporary file beside `path`. False when it cannot be created.
    bool Open(const std::string& path);
    // Appends `size` bytes; false (and every later call fails) on a write error.
    bool Write(const void* data, std::size_t size);
    // Closes the temporary file and renames it over the final path; on any failure the
    // temporary file is removed and the final path is left as it was.
    bool Commit();

private:
    void Discard();
    // Makes the temporary file known to the signal handler, and forgets it.
    void Register();
    void Unregister();

    std::string m_path;
    std::string m_temp;
    int m_fd = -1;
    int m_slot = -1;  // of m_temp among the temporaries the signal handler removes
    bool m_ok = false;
};

// Replaces `path` with `size` bytes at `data`, atomically as above.
bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size);
