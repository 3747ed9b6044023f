// A library whose loading never ends: its constructor leaves a mark in the crash test's
// directory and then waits for good, so that the loading thread keeps the loader's lock.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

__attribute__((constructor)) void HoldTheLoader() {
  char const* dir = std::getenv("VR_CRASH_TEST_DIR");
  if (dir != nullptr) close(open((std::string(dir) + "/loader_held").c_str(), O_CREAT | O_WRONLY, 0600));
  for (;;) pause();
}

}  // namespace
