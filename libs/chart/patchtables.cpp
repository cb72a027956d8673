#include "patchtables.h"

#include "atomicfile.h"
#include "numbertext.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <sys/stat.h>

namespace {

using FilePtr = std::unique_ptr<FILE, int (*)(FILE*)>;

constexpr std::size_t k_readBufferSize = std::size_t(1) << 16;
// The line buffer holds a full piece, the two characters of a CR-LF ending and a NUL.
constexpr std::size_t k_lineBufferSize = k_maxPieceChars + 3;

// Field separators of the column layout; a run of them counts as one.
constexpr const char* k_separators = " \t\n";

bool StartsWith(const char* line, std::string_view prefix)
{
    return std::strncmp(line, prefix.data(), prefix.size()) == 0;
}

// An open table: its file, the bytes read from it and not yet handed out (block[next, end),
// of k_readBufferSize bytes), the line buffer (k_lineBufferSize bytes) and the bytes taken
// from the file so far, NUL bytes included. A table read with provenance also records, for
// each patch, the number of the physical line its line or row starts on (a long line's
// pieces share it) and, in the column layout, its sample id.
struct LineInput {
    FILE* file = nullptr;
    char* block = nullptr;
    char* line = nullptr;
    TripletTable* provenance = nullptr;
    std::size_t next = 0;
    std::size_t end = 0;
    bool drained = false;   // the file has given all it will: end of file or a read error
    bool failed = false;    // a read error
    std::uint64_t bytesRead = 0;
    std::size_t number = 0;  // the physical line of the piece in `line`, from 1
    bool lineEnded = true;   // the piece before it ended its line

    void Add(std::vector<Color3>* patches, const Color3& patch)
    {
        patches->push_back(patch);
        if (provenance)
            provenance->RecordLine(number);
    }

    // Whether a byte is waiting in the block, reading the next block when it is empty.
    bool Fill()
    {
        if (next < end)
            return true;
        if (drained)
            return false;
        next = 0;
        end = std::fread(block, 1, k_readBufferSize, file);
        // fread stops short only at the end of the file or on an error.
        if (end < k_readBufferSize) {
            drained = true;
            failed = std::ferror(file) != 0;
        }
        return end > 0;
    }

    // Takes the next byte when it is `c`.
    bool Take(char c)
    {
        if (!Fill() || block[next] != c)
            return false;
        ++next;
        return true;
    }
};

// Reads the next line, or the next k_maxPieceChars piece of a longer one, into in.line, as
// fgets does: the newline stays, a NUL byte ends the text the callers see. False when
// nothing is left to read (end of file or a read error).
bool ReadNextLine(LineInput& in)
{
    char* const buffer = in.line;
    std::size_t n = 0;
    bool newline = false;
    while (!newline && n < k_maxPieceChars && in.Fill()) {
        const char* const from = in.block + in.next;
        const std::size_t available = std::min(k_maxPieceChars - n, in.end - in.next);
        const void* const found = std::memchr(from, '\n', available);
        const std::size_t take = found ? static_cast<std::size_t>(static_cast<const char*>(found) - from) + 1 : available;
        std::memcpy(buffer + n, from, take);
        n += take;
        in.next += take;
        newline = found != nullptr;
    }
    // A full piece: a line ending right after it belongs to it, not to a piece of its own.
    if (!newline && n == k_maxPieceChars) {
        if (in.Take('\r'))
            buffer[n++] = '\r';
        if (in.Take('\n'))
            buffer[n++] = '\n';
    }
    buffer[n] = '\0';
    in.bytesRead += n;
    if (n > 0) {
        in.number += in.lineEnded ? 1 : 0;
        in.lineEnded = buffer[n - 1] == '\n';
    }
    return n > 0 && !in.failed;
}

// The next line of the search for the data block: false at end of file, and once the
// search has taken k_maxSearchBytes of input.
bool ReadNextSearchedLine(LineInput& in)
{
    return in.bytesRead < k_maxSearchBytes && ReadNextLine(in);
}

// Three numbers at the start of `line`, each after optional white space, converted as
// strtod does (so 1e400 reads as infinity); text after the third number does not matter.
bool ScanTriplet(const char* line, Color3* out)
{
    const char* p = line;
    for (double& value : out->c) {
        char* end = nullptr;
        value = ParseDouble(p, &end);
        if (end == p)
            return false;
        p = end;
    }
    return true;
}

// Appends every further line that starts with three numbers; stops at the first that does
// not, or at end of file.
void ReadTripletLines(LineInput& in, std::vector<Color3>* patches)
{
    Color3 patch;
    while (ReadNextLine(in) && ScanTriplet(in.line, &patch))
        in.Add(patches, patch);
}

// A header line: each field, with trailing white space (a CR-LF's carriage return too)
// removed, is compared in full with the three names. A name keeps its first position.
void ReadHeaderLine(char* line, const char* const names[3], int positions[3])
{
    char* save = nullptr;
    int position = 0;
    for (char* field = strtok_r(line, k_separators, &save); field;
         field = strtok_r(nullptr, k_separators, &save), ++position) {
        std::string_view name(field);
        while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back())))
            name.remove_suffix(1);
        for (int n = 0; n < 3; ++n) {
            if (name == names[n]) {
                if (positions[n] < 0)
                    positions[n] = position;
                break;
            }
        }
    }
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The comma of a field written with a decimal comma: an optional sign, digits, one comma and
// digits, followed by nothing but white space (a CR-LF's carriage return). Null for any
// other field.
char* DecimalComma(char* field)
{
    char* p = field;
    if (*p == '+' || *p == '-')
        ++p;
    const char* const integer = p;
    while (IsDigit(*p))
        ++p;
    if (p == integer || *p != ',')
        return nullptr;
    char* const comma = p++;
    const char* const fraction = p;
    while (IsDigit(*p))
        ++p;
    if (p == fraction)
        return nullptr;
    while (std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    return *p == '\0' ? comma : nullptr;
}

enum class RowResult { Patch, EndOfBlock, TooShort };

// A data row: every field converted as strtod does, unchecked (a name such as A1 reads 0.0),
// a field written with a decimal comma read as the same number written with a point.
// Three fields or fewer end the block. The chosen values are rounded to single precision.
// `firstField`, when not null, receives the row's first field as written (its sample id).
RowResult ReadDataRow(char* line, const int positions[3], std::vector<double>& values, Color3* out,
                      std::string* firstField)
{
    values.clear();
    char* save = nullptr;
    for (char* field = strtok_r(line, k_separators, &save); field;
         field = strtok_r(nullptr, k_separators, &save)) {
        if (firstField && values.empty())
            *firstField = field;
        if (char* comma = DecimalComma(field))
            *comma = '.';
        values.push_back(ParseDouble(field, nullptr));
    }
    if (values.size() <= 3)
        return RowResult::EndOfBlock;
    for (int n = 0; n < 3; ++n) {
        // A row too short for a requested column has no value there: never read past it.
        if (static_cast<std::size_t>(positions[n]) >= values.size())
            return RowResult::TooShort;
        out->c[n] = static_cast<double>(static_cast<float>(values[positions[n]]));
    }
    return RowResult::Patch;
}

// The column layout, from the line after the first: returns false when the file ends before
// "BEGIN_DATA" or the search for it gives up, when a name has no column by then, or on a row
// too short for a column.
bool ReadColumnLayout(LineInput& in, const char* const names[3], std::vector<Color3>* patches)
{
    char* const line = in.line;
    int positions[3] = {-1, -1, -1};
    for (;;) {
        if (!ReadNextSearchedLine(in))
            return false;
        // "BEGIN_DATA_FORMAT" also begins with "BEGIN_DATA", so it is tested first.
        if (StartsWith(line, "BEGIN_DATA_FORMAT"))
            continue;
        if (StartsWith(line, "SAMPLE_ID") || StartsWith(line, "SampleID")) {
            ReadHeaderLine(line, names, positions);
            continue;
        }
        if (StartsWith(line, "BEGIN_DATA"))
            break;
    }
    if (positions[0] < 0 || positions[1] < 0 || positions[2] < 0)
        return false;

    std::vector<double> values;
    Color3 patch;
    std::string id;
    std::string* const wantId = in.provenance ? &id : nullptr;
    while (ReadNextLine(in)) {
        switch (ReadDataRow(line, positions, values, &patch, wantId)) {
        case RowResult::Patch:
            in.Add(patches, patch);
            if (wantId)
                in.provenance->sampleIds.push_back(id);
            break;
        case RowResult::EndOfBlock:
            return true;
        case RowResult::TooShort:
            return false;
        }
    }
    return true;
}

// Room for the patches of a table longer than one block, so that the list fills without
// copying itself as it grows; room a smaller table leaves is address space that is never
// touched, and costs no memory. A regular file's count is estimated from the lines in its
// first block (a patch takes at least six bytes, "0 0 0\n"); a pipe's size is unknown, and
// it gets room for k_unknownSizePatches.
constexpr std::size_t k_unknownSizePatches = std::size_t(1) << 22;

void ReserveRoom(const LineInput& in, std::vector<Color3>* patches)
{
    struct stat status;
    if (in.drained || fstat(fileno(in.file), &status) != 0)
        return;
    if (!S_ISREG(status.st_mode)) {
        patches->reserve(k_unknownSizePatches);
        return;
    }
    constexpr double k_minPatchBytes = 6.0;
    constexpr double k_margin = 1.125;
    const double size = static_cast<double>(status.st_size);
    const double lines = static_cast<double>(std::count(in.block, in.block + in.end, '\n'));
    const double estimate = std::min(size * lines / static_cast<double>(in.end) * k_margin, size / k_minPatchBytes);
    patches->reserve(static_cast<std::size_t>(estimate) + 1);
}

// The reader on an open stream, from its first line; `provenance` may be null, else `patches`
// is its own list.
int ReadTriplets(FILE* file, const char* const names[3], std::vector<Color3>* patches, TripletTable* provenance)
{
    std::unique_ptr<char[]> block(new char[k_readBufferSize]);
    std::unique_ptr<char[]> line(new char[k_lineBufferSize]);
    LineInput in{file, block.get(), line.get(), provenance};
    if (!ReadNextLine(in))
        return 0;
    ReserveRoom(in, patches);

    Color3 first;
    if (ScanTriplet(in.line, &first)) {
        in.Add(patches, first);
        ReadTripletLines(in, patches);
        return 1;
    }
    if (StartsWith(in.line, "PATCH_HEADER")) {
        do {
            if (!ReadNextSearchedLine(in))
                return 0;
        } while (!StartsWith(in.line, "PATCH_DATA"));
        ReadTripletLines(in, patches);
        return 1;
    }
    if (!ReadColumnLayout(in, names, patches)) {
        patches->clear();
        return 0;
    }
    return 1;
}

// The writer formats whole lines into one buffer and hands it to the file when full.
constexpr std::size_t k_writeBufferSize = std::size_t(1) << 20;

}  // namespace

int ReadTripletFileString(std::string path, std::vector<Color3>* patches, const char* firstName,
                          const char* secondName, const char* thirdName)
{
    patches->clear();
    FilePtr file(std::fopen(path.c_str(), "r"), std::fclose);
    if (!file)
        return 0;
    const char* const names[3] = {firstName, secondName, thirdName};
    return ReadTriplets(file.get(), names, patches, nullptr);
}

std::size_t TripletTable::LineOf(std::size_t index) const
{
    const auto after = std::upper_bound(lineRuns.begin(), lineRuns.end(), index,
                                        [](std::size_t i, const LineRun& run) { return i < run.firstPatch; });
    const LineRun& run = *(after - 1);
    return run.line + (index - run.firstPatch);
}

void TripletTable::RecordLine(std::size_t line)
{
    const std::size_t index = patches.size() - 1;
    if (lineRuns.empty() || lineRuns.back().line + (index - lineRuns.back().firstPatch) != line)
        lineRuns.push_back({index, line});
}

int ReadTripletStream(FILE* stream, TripletTable* table, const char* firstName, const char* secondName,
                      const char* thirdName)
{
    *table = TripletTable();
    const char* const names[3] = {firstName, secondName, thirdName};
    if (ReadTriplets(stream, names, &table->patches, table) == 0) {
        *table = TripletTable();
        return 0;
    }
    return 1;
}

char* FormatTripletLine(char* out, const Color3& triplet)
{
    out = FormatFixed6(out, triplet.c[0]);
    *out++ = '\t';
    out = FormatFixed6(out, triplet.c[1]);
    *out++ = '\t';
    out = FormatFixed6(out, triplet.c[2]);
    *out++ = '\n';
    return out;
}

int WriteTabDelimitedTriplets(const char* path, const std::vector<Color3>& triplets)
{
    // Allocated first: a failed allocation then leaves no temporary file behind.
    std::unique_ptr<char[]> buffer(new char[k_writeBufferSize]);
    AtomicFile file;
    if (!file.Open(path))
        return 0;
    char* const begin = buffer.get();
    char* p = begin;
    bool ok = true;
    for (std::size_t i = 0; ok && i < triplets.size(); ++i) {
        // Room for one more line of three values is always left at the end of the buffer.
        if (static_cast<std::size_t>(p - begin) > k_writeBufferSize - k_maxTripletLineChars) {
            ok = file.Write(begin, static_cast<std::size_t>(p - begin));
            p = begin;
        }
        p = FormatTripletLine(p, triplets[i]);
    }
    ok = ok && file.Write(begin, static_cast<std::size_t>(p - begin));
    return (ok && file.Commit()) ? 1 : 0;
}
