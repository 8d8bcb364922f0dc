// Formatting of one log line from a target's format and a record.
//
// The format is copied with these codes expanded:
//   #D  the record's local time, "2024-03-05T07:08:09.012"
//   #E  the executable's file name (see LogExecutableName)
//   #G  the record's category codes from bit 0 up, joined by ";"
//   #H  seconds since the first use of #H in the process, "000012.345"
//   #L  the level's six-character name (other levels print as "%6d")
//   #M  the message
//   #T  the calling thread's id as eight upper-case hexadecimal digits
// "#" before any other character gives that character ("##" gives "#"); a
// "#" that ends the format gives nothing.
#pragma once

#include <cstddef>

#include "diagnostics/log_level.h"

namespace vaq {

// Writes the line for `record` into `out` (capacity bytes, terminator
// included) and returns its length. Copying stops when fewer than 2 bytes
// remain. The line ends with exactly one line feed: none is added when the
// text already ends with one; otherwise one is appended, replacing the last
// character when the buffer is full. An empty format gives "\n". Writes
// nothing for a capacity below 2 except the terminator.
size_t FormatLogLine(char* out, size_t capacity, const char* format, const LogRecord& record);

// The executable's file name as #E prints it: "<unknown>" until the first
// logger has been built, then the part of the executable's path after its
// last "\" or "/". The text lives as long as the process.
const char* LogExecutableName();

// Reads the executable's path once per process; called when a logger is
// built. Safe from any thread.
void LoadLogExecutableName();

}  // namespace vaq
