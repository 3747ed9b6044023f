#include "process_memory.h"

#include <fstream>
#include <sstream>
#include <string>

namespace bench {

ResidentMemory ReadResidentMemory() {
  ResidentMemory memory{0, 0};
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    std::istringstream fields(line);
    std::string key;
    std::size_t kib = 0;
    fields >> key >> kib;
    if (key == "VmRSS:") memory.now_kib = kib;
    if (key == "VmHWM:") memory.peak_kib = kib;
  }
  return memory;
}

}  // namespace bench
