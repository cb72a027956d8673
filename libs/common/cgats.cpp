#include "cgats.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>

// A data row is split in place: each field is cut with a NUL, scanned with "%lf", and the
// cut character put back. A row ends at its newline or at the first NUL byte it holds.

namespace {

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

// Reads at most k_cgatsLineBufferSize - 1 characters, stopping after a newline (which stays
// in the buffer), and terminates them with a NUL. Returns false when the end of the file was
// already reached or nothing could be read. *length counts every byte read, NULs included,
// so a header line is kept exactly as it stands in the file.
bool ReadNextLine(FILE* stream, char* buffer, size_t* length)
{
    if (std::feof(stream))
        return false;
    size_t count = 0;
    while (count + 1 < static_cast<size_t>(k_cgatsLineBufferSize)) {
        const int c = std::getc(stream);
        if (c == EOF)
            break;
        buffer[count++] = static_cast<char>(c);
        if (c == '\n')
            break;
    }
    buffer[count] = '\0';
    *length = count;
    return count > 0;
}

bool IsSpace(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

char* SkipSpace(char* p)
{
    while (*p != '\0' && IsSpace(*p))
        ++p;
    return p;
}

char* SkipField(char* p)
{
    while (*p != '\0' && !IsSpace(*p))
        ++p;
    return p;
}

bool OpensDataBlock(const char* line)
{
    return std::strncmp(line, "BEGIN_DATA", 10) == 0 &&
           std::strncmp(line, "BEGIN_DATA_FORMAT", 17) != 0;
}

}  // namespace

int ReadCGATS(const char* path, CGATS* cgats, int readNames)
{
    if (path == nullptr || cgats == nullptr)
        return 0;
    cgats->headerLines.clear();
    cgats->sampleNames.clear();
    cgats->rows.clear();

    File file(std::fopen(path, "r"), std::fclose);
    if (!file)
        return 0;

    char headerLine[k_cgatsLineBufferSize];
    char dataLine[k_cgatsLineBufferSize];
    size_t length = 0;
    bool opened = false;
    while (!opened && ReadNextLine(file.get(), headerLine, &length)) {
        cgats->headerLines.emplace_back(headerLine, length);
        opened = OpensDataBlock(headerLine);
    }
    // An opening line cut off by the end of the file (no newline) has no data block after it;
    // a read error before the opening line is a failure too, never an empty success.
    if (!opened || std::feof(file.get()))
        return 0;

    bool haveCount = false;
    size_t expectedCount = 0;
    while (ReadNextLine(file.get(), dataLine, &length)) {
        char* p = SkipSpace(dataLine);
        if (*p == '\0')
            return 1;  // a blank line closes the block
        p = SkipSpace(SkipField(p));  // the sample identifier is not kept
        if (*p == '\0')
            return 1;  // one field: the closing keyword line
        if (readNames != 0) {
            char* nameEnd = SkipField(p);
            // No white space after the name: the last line of the file or a piece of a long
            // line, whose name may be cut short, so nothing of it is kept.
            if (*nameEnd == '\0')
                return 1;
            *nameEnd = '\0';
            cgats->sampleNames.emplace_back(p);
            p = nameEnd + 1;
        }
        std::vector<double> row;
        for (p = SkipSpace(p); *p != '\0'; p = SkipSpace(p)) {
            char* fieldEnd = SkipField(p);
            const char saved = *fieldEnd;
            *fieldEnd = '\0';
            double value = 0.0;
            if (std::sscanf(p, "%lf", &value) != 1)
                return 0;
            row.push_back(value);
            *fieldEnd = saved;
            p = fieldEnd;
        }
        cgats->rows.push_back(std::move(row));
        if (!haveCount) {
            expectedCount = cgats->rows.back().size();
            haveCount = true;
        } else if (cgats->rows.back().size() != expectedCount) {
            return 0;
        }
    }
    return 1;
}
