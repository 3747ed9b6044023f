#include "varururor/aio/temp_file.h"

#include "plat/clock.h"
#include "plat/file.h"
#include "plat/temp_file.h"

namespace {

constexpr char kPrefix[] = "utl";
// Every value of the 16-bit name counter once.
constexpr unsigned kNameCount = 0x10000;

}  // namespace

FILE* aio_createTempFile() {
  char directory[plat::kMaxPath];
  char name[plat::kMaxPath] = "";
  bool have_directory = plat::GetTempPath(directory, sizeof directory) != 0;
  plat::TimeOfDay now;
  plat::GetTimeOfDay(&now);
  unsigned short counter = now.milliseconds;
  bool retry_left = true;
  for (unsigned attempt = 0; have_directory && attempt < kNameCount; ++attempt) {
    // 0 would ask the platform to pick and create a name itself.
    if (counter == 0) ++counter;
    if (plat::GetTempFileName(directory, kPrefix, counter++, name) == 0) break;
    plat::OpenError error;
    int fd = plat::OpenTemporaryFile(name, &error);
    if (fd >= 0) {
      if (FILE* f = fdopen(fd, "w+b")) return f;
      plat::CloseDescriptor(fd);
      break;
    }
    // A name in use belongs to someone else: it is left alone and the next one tried.
    if (error == plat::OpenError::kExists) continue;
    if (error == plat::OpenError::kAccessDenied && retry_left) {
      retry_left = false;
      continue;
    }
    break;
  }
  std::fprintf(stderr, "Failed to create %s\n", name);
  return nullptr;
}
