// Patch tables: reading one triplet of numbers per patch from a text table, and writing a
// list of triplets as tab-delimited text.
//
// Three layouts are read, told apart by the first line:
//   plain triplet  the first line starts with three numbers; so does every patch line.
//   patch          the first line begins "PATCH_HEADER"; after the line beginning
//                  "PATCH_DATA" come three numbers a line.
//   column         anything else: header lines beginning "SAMPLE_ID" or "SampleID" name the
//                  columns, and the rows after "BEGIN_DATA" hold the values. Only this layout
//                  selects values by column name.
// In the first two layouts the list ends at the first line that does not start with three
// numbers; in the column layout at the first row of three fields or fewer.
#pragma once

#include "color3.h"
#include "numbertext.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Longest piece of a line the reader handles at once: a longer line is read in pieces of
// this many characters, each handled as a line of its own. The line ending (a newline, or a
// carriage return and a newline) always stays with the piece it ends, so a line of any
// length leaves the following lines to be read from their own start.
inline constexpr std::size_t k_maxPieceChars = 8190;

// Input searched for the start of the data (the line beginning "PATCH_DATA" or "BEGIN_DATA"):
// a table whose data block does not begin within this many bytes is refused, so that an
// endless stream such as /dev/zero ends the read. Pipes and /dev/stdin are read as files are.
inline constexpr std::uint64_t k_maxSearchBytes = std::uint64_t(64) << 20;

// Reads the triplets of `path` into `patches` (cleared first). The three names choose the
// columns of the column layout; there a field of the form digits, one comma, digits (with an
// optional sign and nothing else but trailing white space) is a number written with a
// decimal comma, so "51,2872" reads as 51.2872 exactly as "51.2872" does. Returns 1 on success, 0 on failure; after a failure
// `patches` is empty. An empty list can be a success: the caller checks the count.
int ReadTripletFileString(std::string path, std::vector<Color3>* patches, const char* firstName,
                          const char* secondName, const char* thirdName);

// A table's patches and where each one stands in its input, for messages that name a patch.
struct TripletTable {
    std::vector<Color3> patches;
    // Where the patches' lines or rows start, kept as runs of patches one physical line apart
    // (a table of one patch per line is one run): each run's first patch and its line.
    struct LineRun {
        std::size_t firstPatch = 0;
        std::size_t line = 0;
    };
    std::vector<LineRun> lineRuns;
    // Column layout: each row's first field as written, its sample id. Other layouts: empty.
    std::vector<std::string> sampleIds;

    // The physical line (counted from 1) on which patch `index`'s line or row starts.
    std::size_t LineOf(std::size_t index) const;
    // Records the line of the patch just added to `patches`.
    void RecordLine(std::size_t line);
};

// Reads an open stream, standard input included, from where it stands, exactly as
// ReadTripletFileString reads a file, and records each patch's line and sample id. Returns
// 1 on success, 0 on failure; after a failure `table` is empty. The stream is left open, read
// in blocks: what follows the table in it may have been taken too.
int ReadTripletStream(FILE* stream, TripletTable* table, const char* firstName, const char* secondName,
                      const char* thirdName);

// Longest "%lf\t%lf\t%lf\n" line of a triplet.
inline constexpr std::size_t k_maxTripletLineChars = 3 * k_maxFixed6Chars + 3;

// Writes the "%lf\t%lf\t%lf\n" line of `triplet` at `out` (k_maxTripletLineChars bytes
// available, no terminating NUL) and returns the position after it.
char* FormatTripletLine(char* out, const Color3& triplet);

// Writes one "%lf\t%lf\t%lf\n" line per triplet. The file is written under a temporary
// name in the same directory and renamed over `path` only when every byte was written, so
// a failure leaves an earlier file untouched. Returns 1 on success, 0 on failure.
int WriteTabDelimitedTriplets(const char* path, const std::vector<Color3>& triplets);
