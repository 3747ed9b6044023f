// A program with known heap calls, for the recorder's test (roundtrip_test.sh): every
// kind of call once with a size nothing else asks for, one of them on a second thread,
// and a forked child whose calls must not appear.
#include <malloc.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

int main() {
  void* grown = malloc(12345);
  void* zeroed = calloc(7, 1001);
  grown = realloc(grown, 23456);
  void* aligned = memalign(64, 3333);
  void* posix = nullptr;
  if (posix_memalign(&posix, 128, 4444) != 0) return 1;
  void* standard = aligned_alloc(256, 512);
  std::thread([] { free(malloc(54321)); }).join();
  pid_t child = fork();
  if (child == 0) {
    free(malloc(77777));
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  std::memset(grown, 1, 23456);
  free(standard);
  free(posix);
  free(aligned);
  free(zeroed);
  free(grown);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
