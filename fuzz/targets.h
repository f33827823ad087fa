// Entry functions of the fuzz targets. Each takes one input, runs it through
// the engine in a scratch folder of its own and aborts when the engine breaks
// one of its promises; the libFuzzer drivers and the regression test that
// replays saved inputs call the very same functions.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ravelo::fuzz {

// A whole conversion of a logger file. Byte 0 chooses the job: bit 0 month
// files, bit 1 creation method 1, bit 2 direct output, bit 3 day control
// type 1, bit 4 convert the same file a second time into the same folder
// (merging into what the first conversion wrote). The other bytes are the
// logger file.
int FuzzProc(const uint8_t* data, size_t size);

// A merge of a fixed small logger file into an existing CSV file at the name
// the conversion writes to. Byte 0: bits 0-1 day files, month files or
// direct output (3 is day files too), bit 2 puts a valid header and unit line
// pair before the rest, bit 3 day control type 1. The other bytes are the
// existing CSV file.
int FuzzMerge(const uint8_t* data, size_t size);

// The private-profile (INI) services on a fuzzed INI file. The input is
// "SECTION\0KEY\0VALUE\0" followed by the file's text; missing parts take
// the names Ravelo uses. Reads the key, writes it and reads it back.
int FuzzProfile(const uint8_t* data, size_t size);

}  // namespace ravelo::fuzz
