#include "frame/dbghelp/module_map.h"

#include <elf.h>

#include <cstring>
#include <new>

#include "plat/posix/address_map.h"

namespace dbghelp {
namespace {

constexpr std::size_t kMaxModules = 512;
constexpr std::size_t kMaxRanges = 4096;
constexpr char kVdso[] = "[vdso]";

struct Range {
  unsigned start;
  unsigned end;
};

Module g_modules[kMaxModules];
std::size_t g_module_count = 0;
Range g_readable[kMaxRanges];
std::size_t g_readable_count = 0;
plat::AddressMapReader* g_reader = nullptr;  // placed in g_reader_space, not on the heap
alignas(plat::AddressMapReader) unsigned char g_reader_space[sizeof(plat::AddressMapReader)];

bool IsModulePath(char const* path) {
  return path[0] == '/' || std::strcmp(path, kVdso) == 0;
}

// Mappings that can fault on reading although the map calls them readable.
bool MayFault(char const* path) {
  return std::strncmp(path, "/dev/", 5) == 0 || std::strcmp(path, "[vvar]") == 0;
}

// The unwind index from the module's program headers, which lie in its first mapping.
unsigned EhFrameHeader(unsigned base) {
  if (!IsReadable(base, sizeof(Elf32_Ehdr))) return 0;
  Elf32_Ehdr const* header = reinterpret_cast<Elf32_Ehdr const*>(base);
  if (std::memcmp(header->e_ident, ELFMAG, SELFMAG) != 0 || header->e_ident[EI_CLASS] != ELFCLASS32)
    return 0;
  unsigned table = base + header->e_phoff;
  unsigned count = header->e_phnum;
  if (!IsReadable(table, count * sizeof(Elf32_Phdr))) return 0;
  Elf32_Phdr const* headers = reinterpret_cast<Elf32_Phdr const*>(table);
  // The load bias: where the segment at file offset 0 was placed, less where it asked.
  unsigned bias = base;
  for (unsigned i = 0; i < count; ++i) {
    if (headers[i].p_type == PT_LOAD && headers[i].p_offset == 0) {
      bias = base - headers[i].p_vaddr;
      break;
    }
  }
  for (unsigned i = 0; i < count; ++i) {
    if (headers[i].p_type == PT_GNU_EH_FRAME) return bias + headers[i].p_vaddr;
  }
  return 0;
}

}  // namespace

bool RefreshModuleMap() {
  if (g_reader != nullptr) g_reader->~AddressMapReader();
  g_reader = new (g_reader_space) plat::AddressMapReader;
  g_module_count = 0;
  g_readable_count = 0;
  plat::AddressMapEntry entry;
  bool any = false;
  while (g_reader->Next(&entry)) {
    any = true;
    unsigned start = static_cast<unsigned>(entry.start);
    unsigned end = static_cast<unsigned>(entry.end);
    if (entry.readable && !MayFault(entry.path) && g_readable_count < kMaxRanges) {
      if (g_readable_count > 0 && g_readable[g_readable_count - 1].end == start) {
        g_readable[g_readable_count - 1].end = end;
      } else {
        g_readable[g_readable_count++] = {start, end};
      }
    }
    if (!IsModulePath(entry.path)) continue;
    Module* last = g_module_count > 0 ? &g_modules[g_module_count - 1] : nullptr;
    if (last != nullptr && last->end == start && std::strcmp(last->path, entry.path) == 0) {
      last->end = end;
      last->executable = last->executable || entry.executable;
      continue;
    }
    if (entry.offset != 0 || g_module_count == kMaxModules) continue;
    Module* module = &g_modules[g_module_count++];
    module->base = start;
    module->end = end;
    module->eh_frame_header = 0;
    module->executable = entry.executable;
    std::memcpy(module->path, entry.path, sizeof module->path);
  }
  // A file mapped whole for reading (the symbol reader maps the modules' files so) is
  // data, not a module.
  std::size_t kept = 0;
  for (std::size_t i = 0; i < g_module_count; ++i) {
    if (g_modules[i].executable) g_modules[kept++] = g_modules[i];
  }
  g_module_count = kept;
  // The headers are read once every readable range is known.
  for (std::size_t i = 0; i < g_module_count; ++i) {
    g_modules[i].eh_frame_header = EhFrameHeader(g_modules[i].base);
  }
  g_reader->~AddressMapReader();
  g_reader = nullptr;
  return any;
}

Module const* ModuleAt(unsigned address) {
  for (int pass = 0; pass < 2; ++pass) {
    for (std::size_t i = 0; i < g_module_count; ++i) {
      if (address >= g_modules[i].base && address < g_modules[i].end) return &g_modules[i];
    }
    if (pass == 0 && !RefreshModuleMap()) return nullptr;
  }
  return nullptr;
}

std::size_t ModuleCount() { return g_module_count; }

Module const* ModuleByIndex(std::size_t index) {
  return index < g_module_count ? &g_modules[index] : nullptr;
}

bool IsReadable(unsigned address, unsigned size) {
  unsigned last = address + size;
  if (last < address) return false;
  std::size_t low = 0;
  std::size_t high = g_readable_count;
  while (low < high) {
    std::size_t middle = (low + high) / 2;
    if (g_readable[middle].end <= address) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low < g_readable_count && g_readable[low].start <= address && last <= g_readable[low].end;
}

}  // namespace dbghelp
