// Temporary files: the directory for them, and unique names made by creating the file.
#ifndef VARURUROR_PLAT_TEMP_FILE_H
#define VARURUROR_PLAT_TEMP_FILE_H

#include <cstddef>

namespace plat {

constexpr std::size_t kMaxPath = 260;

// The temporary directory with a trailing "/" (TMPDIR, else "/tmp/"); its length,
// or 0 when it does not fit in size.
std::size_t GetTempPath(char* buffer, std::size_t size);

// Creates an empty file "<directory>/<up to 3 characters of prefix><hex number>.TMP"
// that did not exist before and writes its path (at most kMaxPath bytes with the
// terminator) to path. unique nonzero: uses that number and creates nothing.
// Returns the number used, 0 on failure.
unsigned GetTempFileName(char const* directory, char const* prefix, unsigned unique, char* path);

}  // namespace plat

#endif
