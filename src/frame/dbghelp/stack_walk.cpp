#include "frame/dbghelp/stack_walk.h"

#include <sys/ucontext.h>

#include <cstdint>

#include <libunwind.h>

#include "frame/dbghelp/module_map.h"

// The library's search of an unwind index that the walker's own accessors describe.
extern "C" int _Ux86_dwarf_search_unwind_table(unw_addr_space_t space, unw_word_t ip,
                                               unw_dyn_info_t* info, unw_proc_info_t* procedure,
                                               int need_unwind_info, void* argument);

namespace dbghelp {
namespace {

// .eh_frame_hdr: version, three encodings, the frame pointer, the count, then the table.
constexpr unsigned kHeaderVersion = 1;
constexpr unsigned char kEncodingUdata4 = 0x03;
constexpr unsigned char kEncodingDatarelSdata4 = 0x3B;
constexpr unsigned kCountOffset = 8;
constexpr unsigned kTableOffset = 12;
constexpr unsigned kTableEntryWords = 2;  // initial location and FDE address, 4 bytes each

unw_addr_space_t g_space = nullptr;
ucontext_t const* g_context = nullptr;
unw_cursor_t g_cursor;

int FindProcedure(unw_addr_space_t space, unw_word_t ip, unw_proc_info_t* procedure,
                  int need_unwind_info, void* argument) {
  Module const* module = ModuleAt(static_cast<unsigned>(ip));
  if (module == nullptr || module->eh_frame_header == 0) return -UNW_ENOINFO;
  unsigned header = module->eh_frame_header;
  if (!IsReadable(header, kTableOffset)) return -UNW_ENOINFO;
  unsigned char const* bytes = reinterpret_cast<unsigned char const*>(header);
  if (bytes[0] != kHeaderVersion || bytes[2] != kEncodingUdata4 ||
      bytes[3] != kEncodingDatarelSdata4) {
    return -UNW_ENOINFO;
  }
  unsigned count = *reinterpret_cast<std::uint32_t const*>(header + kCountOffset);
  unw_dyn_info_t info = {};
  info.start_ip = module->base;
  info.end_ip = module->end;
  info.format = UNW_INFO_FORMAT_REMOTE_TABLE;
  info.u.rti.segbase = header;
  info.u.rti.table_len = count * kTableEntryWords;
  info.u.rti.table_data = header + kTableOffset;
  return _Ux86_dwarf_search_unwind_table(space, ip, &info, procedure, need_unwind_info, argument);
}

// The procedure records come from the walker's own pool, which the walk never outgrows
// (at most one record a frame); nothing is handed back.
void PutUnwindInfo(unw_addr_space_t, unw_proc_info_t*, void*) {}

int NoDynamicList(unw_addr_space_t, unw_word_t*, void*) { return -UNW_ENOINFO; }

int ReadMemory(unw_addr_space_t, unw_word_t address, unw_word_t* value, int write, void*) {
  if (write != 0 || !IsReadable(address, sizeof(unw_word_t))) return -UNW_EINVAL;
  *value = *reinterpret_cast<unw_word_t const*>(address);
  return 0;
}

int ReadRegister(unw_addr_space_t, unw_regnum_t number, unw_word_t* value, int write, void*) {
  static int const kRegisterOf[] = {REG_EAX, REG_EDX, REG_ECX, REG_EBX, REG_ESI,
                                    REG_EDI, REG_EBP, REG_ESP, REG_EIP, REG_EFL};
  if (write != 0 || g_context == nullptr || number < 0 ||
      number >= static_cast<int>(sizeof kRegisterOf / sizeof kRegisterOf[0])) {
    return -UNW_EBADREG;
  }
  *value = static_cast<unw_word_t>(g_context->uc_mcontext.gregs[kRegisterOf[number]]);
  return 0;
}

int NoFloatRegisters(unw_addr_space_t, unw_regnum_t, unw_fpreg_t*, int, void*) {
  return -UNW_EBADREG;
}

int NoResume(unw_addr_space_t, unw_cursor_t*, void*) { return -UNW_EINVAL; }

int NoProcedureName(unw_addr_space_t, unw_word_t, char*, std::size_t, unw_word_t*, void*) {
  return -UNW_ENOINFO;
}

bool Position(unsigned* pc, unsigned* sp) {
  unw_word_t ip = 0;
  unw_word_t stack = 0;
  if (unw_get_reg(&g_cursor, UNW_REG_IP, &ip) != 0 || unw_get_reg(&g_cursor, UNW_REG_SP, &stack) != 0)
    return false;
  *pc = static_cast<unsigned>(ip);
  *sp = static_cast<unsigned>(stack);
  return true;
}

}  // namespace

bool PrepareStackWalk() {
  if (g_space != nullptr) return true;
  unw_accessors_t accessors = {};
  accessors.find_proc_info = FindProcedure;
  accessors.put_unwind_info = PutUnwindInfo;
  accessors.get_dyn_info_list_addr = NoDynamicList;
  accessors.access_mem = ReadMemory;
  accessors.access_reg = ReadRegister;
  accessors.access_fpreg = NoFloatRegisters;
  accessors.resume = NoResume;
  accessors.get_proc_name = NoProcedureName;
  g_space = unw_create_addr_space(&accessors, 0);
  if (g_space == nullptr) return false;
  // Caches would be filled from the walker's memory at the crash; there is one walk.
  unw_set_caching_policy(g_space, UNW_CACHE_NONE);
  return true;
}

bool StartWalk(void* context, unsigned* pc, unsigned* sp) {
  if (g_space == nullptr || context == nullptr) return false;
  g_context = static_cast<ucontext_t const*>(context);
  if (!RefreshModuleMap()) return false;
  if (unw_init_remote(&g_cursor, g_space, nullptr) != 0) return false;
  return Position(pc, sp);
}

bool NextFrame(unsigned* pc, unsigned* sp) {
  return unw_step(&g_cursor) > 0 && Position(pc, sp);
}

}  // namespace dbghelp
