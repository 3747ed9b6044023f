// Files by name: access checks, and the private file behind a temporary-file stream.
#ifndef VARURUROR_PLAT_FILE_H
#define VARURUROR_PLAT_FILE_H

namespace plat {

// What AccessFile asks about a path, with the mode numbers of _access.
enum class FileAccess { kExists = 0, kRead = 4 };

// True when path exists and allows the access asked for.
bool AccessFile(char const* path, FileAccess mode);

// Why OpenTemporaryFile failed.
enum class OpenError { kNone, kExists, kAccessDenied, kOther };

// Creates path, which must not exist yet, for reading and writing by its owner, and
// removes the name at once, so that the file disappears with its last descriptor.
// Returns the descriptor (close-on-exec, hinted for sequential access), or -1 with the
// reason in *error.
int OpenTemporaryFile(char const* path, OpenError* error);

// Closes a descriptor that no stream took over.
void CloseDescriptor(int fd);

}  // namespace plat

#endif
