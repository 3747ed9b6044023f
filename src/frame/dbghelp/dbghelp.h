// The debugging-help library's interface: symbols, source lines and stack steps for
// 32-bit code in the calling process. The crash filter loads the library at run time
// (KOV_PATH/External) and finds these operations by name; the records keep the layouts
// of the library it stands in for.
#ifndef VARURUROR_FRAME_DBGHELP_DBGHELP_H
#define VARURUROR_FRAME_DBGHELP_DBGHELP_H

namespace dbghelp {

constexpr char kFileName[] = "dbghelp.so";

constexpr unsigned kOptionDeferredLoads = 0x04;
constexpr unsigned kOptionLoadLines = 0x10;
constexpr unsigned kMachineI386 = 332;

// A symbol: the record's size, then its name of at most max_name_length characters.
struct Symbol {
  unsigned size_of_struct;
  unsigned address;
  unsigned size;
  unsigned flags;
  unsigned max_name_length;
  char name[1];
};
static_assert(sizeof(Symbol) == 24, "the symbol record's header");

struct Line {
  unsigned size_of_struct;
  void* key;
  unsigned line_number;
  char* file_name;
  unsigned address;
};
static_assert(sizeof(Line) == 20, "the source-line record");

enum AddressMode { kAddressFlat = 3 };

struct Address {
  unsigned offset;
  unsigned short segment;
  AddressMode mode;
};
static_assert(sizeof(Address) == 12, "an address with its segment and mode");

// One stack frame; the walk carries it from one step to the next.
struct StackFrame {
  Address pc;
  Address return_address;
  Address frame;
  Address stack;
  void* function_table_entry;
  unsigned params[4];
  int far_call;
  int is_virtual;
  unsigned reserved[3];
  unsigned kernel_help[19];
};
static_assert(sizeof(StackFrame) == 164, "the 32-bit stack-frame record");

using ReadMemoryRoutine = int (*)(unsigned process, unsigned address, void* buffer, unsigned size,
                                  unsigned* read);
using FunctionTableAccessRoutine = void* (*)(unsigned process, unsigned address);
using GetModuleBaseRoutine = unsigned (*)(unsigned process, unsigned address);
using ModuleCallback = int (*)(char const* module_name, unsigned base, unsigned size, void* user);

using SymGetOptionsFn = unsigned (*)();
using SymSetOptionsFn = unsigned (*)(unsigned options);
using SymInitializeFn = int (*)(unsigned process, char const* search_path, int invade);
using SymGetSymFromAddrFn = int (*)(unsigned process, unsigned address, unsigned* displacement,
                                    Symbol* symbol);
using SymGetLineFromAddrFn = int (*)(unsigned process, unsigned address, unsigned* displacement,
                                     Line* line);
using SymGetModuleBaseFn = unsigned (*)(unsigned process, unsigned address);
using SymFunctionTableAccessFn = void* (*)(unsigned process, unsigned address);
// context is the faulting thread's full register state (ExceptionContext::machine_context).
using StackWalkFn = int (*)(unsigned machine, unsigned process, unsigned thread, StackFrame* frame,
                            void* context, ReadMemoryRoutine read_memory,
                            FunctionTableAccessRoutine function_table_access,
                            GetModuleBaseRoutine get_module_base, void* translate_address);
using EnumerateLoadedModulesFn = int (*)(unsigned process, ModuleCallback callback, void* user);

}  // namespace dbghelp

#endif
