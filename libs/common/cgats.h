// Reader for the data block of a CGATS-style text table.
//
//   CTI3                        <- header: keyword lines, kept as raw text
//   NUMBER_OF_FIELDS 4
//   BEGIN_DATA_FORMAT
//   SAMPLE_ID RGB_R RGB_G RGB_B
//   END_DATA_FORMAT
//   BEGIN_DATA                  <- last header line
//   1 0 0 0                     <- identifier, [name,] numbers
//   2 50 0 0
//   END_DATA                    <- a line of one field (or a blank line) ends the block
//
// The header is not interpreted: no format block is parsed and no column is located by name.
// Lines are read in pieces of at most k_cgatsLineBufferSize - 1 characters.
#pragma once

#include "rgb2lab/export.h"

#include <string>
#include <vector>

// Size of each line buffer, terminating NUL included.
constexpr int k_cgatsLineBufferSize = 4096;

struct RGB2LAB_EXPORT CGATS {
    // Every line from the first through the one that opens the data block, as read.
    std::vector<std::string> headerLines;
    // The second field of each data row, when names were requested.
    std::vector<std::string> sampleNames;
    // The numbers of each data row, without identifier and name.
    std::vector<std::vector<double>> rows;
};

// Reads `path` into `cgats`; a non-zero `readNames` means each row's second field is a name.
// Returns 1 on success, 0 on failure. After 0 the record holds whatever was read so far
// and must not be used.
RGB2LAB_EXPORT int ReadCGATS(const char* path, CGATS* cgats, int readNames);
