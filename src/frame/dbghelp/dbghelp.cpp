// The debugging-help library for this system: symbols and source lines from the DWARF
// and ELF data of the process's modules (elfutils' libdwfl), stack steps from the call
// frame information (libunwind, local unwinding). It serves the calling process only;
// the process and thread arguments are kept for the interface and not read. Nothing
// here is safe in a signal handler: the crash filter calls it from a copy of the
// faulting process.
#include "frame/dbghelp/dbghelp.h"

#include <cxxabi.h>
#include <elfutils/libdwfl.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

#define UNW_LOCAL_ONLY
#include <libunwind.h>

#define DBGHELP_API extern "C" __attribute__((visibility("default")))

namespace {

constexpr unsigned kWalkStarted = 1;  // kept in StackFrame::reserved[0]

char* g_debuginfo_path = nullptr;
Dwfl_Callbacks const kCallbacks = {dwfl_linux_proc_find_elf, dwfl_standard_find_debuginfo, nullptr,
                                   &g_debuginfo_path};

unsigned g_options = 0;
Dwfl* g_dwfl = nullptr;
unw_cursor_t g_cursor;  // the walk in progress
char* g_demangled = nullptr;
std::size_t g_demangled_size = 0;

bool Started() {
  if (g_dwfl != nullptr) return true;
  Dwfl* dwfl = dwfl_begin(&kCallbacks);
  if (dwfl == nullptr) return false;
  if (dwfl_linux_proc_report(dwfl, getpid()) != 0 || dwfl_report_end(dwfl, nullptr, nullptr) != 0) {
    dwfl_end(dwfl);
    return false;
  }
  g_dwfl = dwfl;
  return true;
}

Dwfl_Module* ModuleAt(unsigned address) {
  return Started() ? dwfl_addrmodule(g_dwfl, address) : nullptr;
}

struct ModuleVisit {
  dbghelp::ModuleCallback callback;
  void* user;
};

int VisitModule(Dwfl_Module* module, void**, char const* name, Dwarf_Addr start, void* arg) {
  ModuleVisit* visit = static_cast<ModuleVisit*>(arg);
  Dwarf_Addr end = start;
  dwfl_module_info(module, nullptr, nullptr, &end, nullptr, nullptr, nullptr, nullptr);
  visit->callback(name, static_cast<unsigned>(start), static_cast<unsigned>(end - start),
                  visit->user);
  return DWARF_CB_OK;
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

// Modules are always loaded at once: the crash filter asks for them right away.
DBGHELP_API int SymInitialize(unsigned, char const*, int) { return Started() ? 1 : 0; }

DBGHELP_API int SymGetSymFromAddr(unsigned, unsigned address, unsigned* displacement,
                                  dbghelp::Symbol* symbol) {
  Dwfl_Module* module = ModuleAt(address);
  if (module == nullptr || symbol == nullptr) return 0;
  GElf_Off offset = 0;
  GElf_Sym elf_symbol;
  char const* name =
      dwfl_module_addrinfo(module, address, &offset, &elf_symbol, nullptr, nullptr, nullptr);
  if (name == nullptr) return 0;
  int status = -1;
  char* demangled = abi::__cxa_demangle(name, g_demangled, &g_demangled_size, &status);
  if (status == 0 && demangled != nullptr) {
    g_demangled = demangled;
    DropParameters(g_demangled);
    name = g_demangled;
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
  Dwfl_Module* module = ModuleAt(address);
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

DBGHELP_API unsigned SymGetModuleBase(unsigned, unsigned address) {
  Dwfl_Module* module = ModuleAt(address);
  if (module == nullptr) return 0;
  Dwarf_Addr start = 0;
  dwfl_module_info(module, nullptr, &start, nullptr, nullptr, nullptr, nullptr, nullptr);
  return static_cast<unsigned>(start);
}

// The unwinder finds each module's frame information itself; this answers which module.
DBGHELP_API void* SymFunctionTableAccess(unsigned, unsigned address) { return ModuleAt(address); }

// The first step (a cleared frame record) gives the frame of the context itself; each
// later step its caller. The frame address is the frame's stack pointer. Memory is read
// directly and the callbacks are not needed: only the calling process is walked.
DBGHELP_API int StackWalk(unsigned machine, unsigned, unsigned, dbghelp::StackFrame* frame,
                          void* context, dbghelp::ReadMemoryRoutine,
                          dbghelp::FunctionTableAccessRoutine, dbghelp::GetModuleBaseRoutine,
                          void*) {
  if (machine != dbghelp::kMachineI386 || frame == nullptr) return 0;
  if (frame->reserved[0] != kWalkStarted) {
    if (context == nullptr || unw_init_local2(&g_cursor, static_cast<unw_context_t*>(context),
                                              UNW_INIT_SIGNAL_FRAME) != 0) {
      return 0;
    }
    frame->reserved[0] = kWalkStarted;
  } else if (unw_step(&g_cursor) <= 0) {
    return 0;
  }
  unw_word_t ip = 0;
  unw_word_t sp = 0;
  if (unw_get_reg(&g_cursor, UNW_REG_IP, &ip) != 0 ||
      unw_get_reg(&g_cursor, UNW_REG_SP, &sp) != 0) {
    return 0;
  }
  SetFlat(&frame->pc, static_cast<unsigned>(ip));
  SetFlat(&frame->stack, static_cast<unsigned>(sp));
  SetFlat(&frame->frame, static_cast<unsigned>(sp));
  frame->function_table_entry = ModuleAt(static_cast<unsigned>(ip));
  return 1;
}

DBGHELP_API int EnumerateLoadedModules(unsigned, dbghelp::ModuleCallback callback, void* user) {
  if (callback == nullptr || !Started()) return 0;
  ModuleVisit visit{callback, user};
  return dwfl_getmodules(g_dwfl, VisitModule, &visit, 0) == 0 ? 1 : 0;
}
