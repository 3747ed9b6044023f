// Output files written whole by low-level calls: created or truncated, written at given
// offsets without buffering, closed.
#ifndef VARURUROR_PLAT_OUTPUT_FILE_H
#define VARURUROR_PLAT_OUTPUT_FILE_H

namespace plat {

// Creates or truncates path for reading and writing, as _open with _O_CREAT | _O_TRUNC |
// _O_RDWR | _O_BINARY and read and write permission. -1 when it cannot be opened.
int CreateOutputFile(char const* path);
// Writes bytes at offset, all of them (short writes are continued). False on error.
bool WriteOutputFile(int fd, unsigned offset, void const* data, unsigned bytes);
void CloseOutputFile(int fd);

}  // namespace plat

#endif
