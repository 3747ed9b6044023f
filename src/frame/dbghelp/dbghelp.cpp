// The debugging-help library for this system: symbols and source lines from the DWARF
// and ELF data of the process's modules (elfutils' libdwfl), stack steps from the call
// frame information (libunwind, over accessors of its own), modules from the address
// map. It serves the calling process only; the process and thread arguments are kept for
// the interface and not read.
//
// SymInitialize does everything that allocates or takes a lock: it reports the modules,
// loads every symbol table and every line table, and makes the walker. After it, the
// lookups, the walk and the module list take no lock and allocate nothing (names are
// demangled into a fixed buffer), so a crashing process whose other threads hold the
// loader's or the heap's lock can still use them. Modules loaded after SymInitialize
// are listed and walked, without symbols.
#include "frame/dbghelp/dbghelp.h"

#include <elfutils/libdwfl.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

#include "frame/dbghelp/module_map.h"
#include "frame/dbghelp/stack_walk.h"

#define DBGHELP_API extern "C" __attribute__((visibility("default")))

// The demangler of the compiler's runtime that hands its text to a callback instead of
// allocating it (linked in from the runtime's static support library).
extern "C" int __gcclibcxx_demangle_callback(char const* mangled,
                                             void (*callback)(char const*, std::size_t, void*),
                                             void* opaque);

namespace {

constexpr unsigned kWalkStarted = 1;  // kept in StackFrame::reserved[0]
constexpr std::size_t kNameSize = 4096;

char* g_debuginfo_path = nullptr;
Dwfl_Callbacks const kCallbacks = {dwfl_linux_proc_find_elf, dwfl_standard_find_debuginfo, nullptr,
                                   &g_debuginfo_path};

constexpr std::size_t kMaxSymbolModules = 512;

unsigned g_options = 0;
Dwfl* g_dwfl = nullptr;

// The prepared modules by address range: found without the symbol reader's own lookup,
// which builds its table on first use.
struct SymbolModule {
  unsigned low;
  unsigned high;
  Dwfl_Module* module;
};
SymbolModule g_symbol_modules[kMaxSymbolModules];
std::size_t g_symbol_module_count = 0;

struct NameBuffer {
  char text[kNameSize];
  std::size_t length;
  bool cut;
};
NameBuffer g_name;

void AppendName(char const* piece, std::size_t length, void* opaque) {
  NameBuffer* name = static_cast<NameBuffer*>(opaque);
  if (length >= kNameSize - name->length) {
    name->cut = true;
    return;
  }
  std::memcpy(name->text + name->length, piece, length);
  name->length += length;
  name->text[name->length] = '\0';
}

// Loads what the lookups of one module need, so that they find it loaded later.
int PrepareModule(Dwfl_Module* module, void**, char const*, Dwarf_Addr low, void*) {
  Dwarf_Addr high = low;
  dwfl_module_info(module, nullptr, nullptr, &high, nullptr, nullptr, nullptr, nullptr);
  if (g_symbol_module_count < kMaxSymbolModules) {
    g_symbol_modules[g_symbol_module_count++] = {static_cast<unsigned>(low),
                                                 static_cast<unsigned>(high), module};
  }
  // One lookup inside a function sets up what every later lookup in the module uses.
  int symbols = dwfl_module_getsymtab(module);
  GElf_Sym symbol;
  GElf_Off offset;
  for (int index = 1; index < symbols; ++index) {
    GElf_Addr value = 0;
    if (dwfl_module_getsym_info(module, index, &symbol, &value, nullptr, nullptr, nullptr) !=
            nullptr &&
        GELF_ST_TYPE(symbol.st_info) == STT_FUNC && value != 0) {
      dwfl_module_addrinfo(module, value + 1, &offset, &symbol, nullptr, nullptr, nullptr);
      break;
    }
  }
  Dwarf_Addr bias = 0;
  if (dwfl_module_getdwarf(module, &bias) != nullptr) {
    for (Dwarf_Die* unit = nullptr; (unit = dwfl_module_nextcu(module, unit, &bias)) != nullptr;) {
      std::size_t lines = 0;
      dwfl_getsrclines(unit, &lines);
    }
    dwfl_module_getsrc(module, low);
  }
  return DWARF_CB_OK;
}

bool Prepare() {
  if (g_dwfl != nullptr) return true;
  Dwfl* dwfl = dwfl_begin(&kCallbacks);
  if (dwfl == nullptr) return false;
  g_symbol_module_count = 0;
  if (dwfl_linux_proc_report(dwfl, getpid()) != 0 || dwfl_report_end(dwfl, nullptr, nullptr) != 0) {
    dwfl_end(dwfl);
    return false;
  }
  dwfl_getmodules(dwfl, PrepareModule, nullptr, 0);
  if (!dbghelp::PrepareStackWalk() || !dbghelp::RefreshModuleMap()) {
    dwfl_end(dwfl);
    return false;
  }
  g_dwfl = dwfl;
  return true;
}

// The prepared module that holds address: one the lookups can serve without loading.
Dwfl_Module* SymbolModuleAt(unsigned address) {
  if (g_dwfl == nullptr) return nullptr;
  for (std::size_t i = 0; i < g_symbol_module_count; ++i) {
    SymbolModule const& entry = g_symbol_modules[i];
    if (address >= entry.low && address < entry.high) return entry.module;
  }
  return nullptr;
}

// Symbols carry their names without the parameter list ("ns::Class::Member"), as the
// names of the library this stands in for do.
void DropParameters(char* name) {
  std::size_t end = std::strlen(name);
  while (end > 0 && name[end - 1] != ')') {
    char c = name[end - 1];
    bool qualifier = c == ' ' || c == '&' || (c >= 'a' && c <= 'z');
    if (!qualifier) return;
    --end;
  }
  if (end == 0) return;
  int depth = 0;
  for (std::size_t i = end; i-- > 0;) {
    if (name[i] == ')') ++depth;
    if (name[i] == '(' && --depth == 0) {
      if (i > 0) name[i] = '\0';
      return;
    }
  }
}

void SetFlat(dbghelp::Address* address, unsigned offset) {
  address->offset = offset;
  address->segment = 0;
  address->mode = dbghelp::kAddressFlat;
}

}  // namespace

DBGHELP_API unsigned SymGetOptions() { return g_options; }

DBGHELP_API unsigned SymSetOptions(unsigned options) {
  g_options = options;
  return g_options;
}

// Modules are always loaded at once, whatever the invade flag says.
DBGHELP_API int SymInitialize(unsigned, char const*, int) { return Prepare() ? 1 : 0; }

DBGHELP_API int SymGetSymFromAddr(unsigned, unsigned address, unsigned* displacement,
                                  dbghelp::Symbol* symbol) {
  Dwfl_Module* module = SymbolModuleAt(address);
  if (module == nullptr || symbol == nullptr) return 0;
  GElf_Off offset = 0;
  GElf_Sym elf_symbol;
  char const* name =
      dwfl_module_addrinfo(module, address, &offset, &elf_symbol, nullptr, nullptr, nullptr);
  if (name == nullptr) return 0;
  g_name.length = 0;
  g_name.cut = false;
  g_name.text[0] = '\0';
  if (__gcclibcxx_demangle_callback(name, AppendName, &g_name) == 0 && !g_name.cut) {
    DropParameters(g_name.text);
    name = g_name.text;
  }
  std::size_t length = std::strlen(name);
  if (length > symbol->max_name_length) length = symbol->max_name_length;
  std::memcpy(symbol->name, name, length);
  symbol->name[length] = '\0';
  symbol->address = address - static_cast<unsigned>(offset);
  symbol->size = static_cast<unsigned>(elf_symbol.st_size);
  if (displacement != nullptr) *displacement = static_cast<unsigned>(offset);
  return 1;
}

DBGHELP_API int SymGetLineFromAddr(unsigned, unsigned address, unsigned* displacement,
                                   dbghelp::Line* line) {
  Dwfl_Module* module = SymbolModuleAt(address);
  if (module == nullptr || line == nullptr) return 0;
  Dwfl_Line* found = dwfl_module_getsrc(module, address);
  if (found == nullptr) return 0;
  Dwarf_Addr line_address = 0;
  int line_number = 0;
  char const* file = dwfl_lineinfo(found, &line_address, &line_number, nullptr, nullptr, nullptr);
  if (file == nullptr) return 0;
  line->line_number = static_cast<unsigned>(line_number);
  line->file_name = const_cast<char*>(file);
  line->address = static_cast<unsigned>(line_address);
  if (displacement != nullptr) *displacement = address - static_cast<unsigned>(line_address);
  return 1;
}

// The base of the module whose mappings hold the address; 0 outside every module (the
// stack, the heap, past the last module).
DBGHELP_API unsigned SymGetModuleBase(unsigned, unsigned address) {
  dbghelp::Module const* module = dbghelp::ModuleAt(address);
  return module == nullptr ? 0 : module->base;
}

DBGHELP_API void* SymFunctionTableAccess(unsigned, unsigned address) {
  return const_cast<dbghelp::Module*>(dbghelp::ModuleAt(address));
}

// The first step (a cleared frame record) gives the frame of the context itself; each
// later step its caller. The frame address is the frame's stack pointer. Memory is read
// by the walker itself, checked against the address map; the callbacks are not needed.
DBGHELP_API int StackWalk(unsigned machine, unsigned, unsigned, dbghelp::StackFrame* frame,
                          void* context, dbghelp::ReadMemoryRoutine,
                          dbghelp::FunctionTableAccessRoutine, dbghelp::GetModuleBaseRoutine,
                          void*) {
  if (machine != dbghelp::kMachineI386 || frame == nullptr) return 0;
  unsigned pc = 0;
  unsigned sp = 0;
  if (frame->reserved[0] != kWalkStarted) {
    if (!dbghelp::StartWalk(context, &pc, &sp)) return 0;
    frame->reserved[0] = kWalkStarted;
  } else if (!dbghelp::NextFrame(&pc, &sp)) {
    return 0;
  }
  SetFlat(&frame->pc, pc);
  SetFlat(&frame->stack, sp);
  SetFlat(&frame->frame, sp);
  frame->function_table_entry = const_cast<dbghelp::Module*>(dbghelp::ModuleAt(pc));
  return 1;
}

DBGHELP_API int EnumerateLoadedModules(unsigned, dbghelp::ModuleCallback callback, void* user) {
  if (callback == nullptr || !dbghelp::RefreshModuleMap()) return 0;
  for (std::size_t i = 0; i < dbghelp::ModuleCount(); ++i) {
    dbghelp::Module const* module = dbghelp::ModuleByIndex(i);
    callback(module->path, module->base, module->end - module->base, user);
  }
  return 1;
}
