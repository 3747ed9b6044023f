#include "frame/crash_filter.h"

#include <cxxabi.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <typeinfo>

#include "frame/dbghelp/dbghelp.h"
#include "plat/dynamic_library.h"
#include "plat/exception_filter.h"
#include "plat/file.h"
#include "plat/output_file.h"
#include "plat/process.h"
#include "varururor/frame/error_mode.h"

namespace {

constexpr std::size_t kTextSize = 1024;
constexpr std::size_t kSymbolAreaSize = 512;
constexpr unsigned kSymbolRecordSize = 24;
constexpr unsigned kSymbolMaxName = 488;
constexpr unsigned kLineRecordSize = 20;
constexpr unsigned kMaxFrames = 200;
constexpr std::size_t kSymbolNameLimit = 718;
constexpr std::size_t kFileNameLimit = 714;
constexpr unsigned kOptionModule = 2;
constexpr unsigned kOptionSymbol = 4;
constexpr unsigned kOptionLine = 8;
constexpr unsigned kFrameOptions = kOptionModule | kOptionSymbol | kOptionLine;
// The helper serves the calling process only; this stands for it in its calls.
constexpr unsigned kCurrentProcess = 0;
// A report that takes longer is stuck; the process does not wait for it any longer.
constexpr unsigned kReportTimeoutMs = 30000;
// What the loader's refusal of an existing helper is called on the original system.
constexpr unsigned kErrorBadExeFormat = 193;
constexpr std::size_t kWhatLimit = 200;  // of an exception's own text in the fault line

char const kPopupVariable[] = "JRT_DEBUG_POPUP";
char const kPathVariable[] = "KOV_PATH";
char const kPathSeparator = ';';
char const kHelperDirectory[] = "/External/";
char const kReportSuffix[] = ".dmp";

// The filter runs in a failing process: everything it needs is static, and made at
// installation.
bool g_popup = false;
plat::UnhandledExceptionFilter g_previous_filter = nullptr;
std::terminate_handler g_previous_terminate = nullptr;
// Why the helper is missing, said on standard error at the crash (empty: say nothing).
char g_load_message[kTextSize];
// The type and text of the C++ exception that ended the process, for its fault line.
char g_exception_detail[kTextSize];

struct Helper {
  bool loaded;
  dbghelp::SymGetOptionsFn SymGetOptions;
  dbghelp::SymGetLineFromAddrFn SymGetLineFromAddr;
  dbghelp::SymInitializeFn SymInitialize;
  dbghelp::SymSetOptionsFn SymSetOptions;
  dbghelp::SymFunctionTableAccessFn SymFunctionTableAccess;
  dbghelp::StackWalkFn StackWalk;
  dbghelp::SymGetSymFromAddrFn SymGetSymFromAddr;
  dbghelp::SymGetModuleBaseFn SymGetModuleBase;
  dbghelp::EnumerateLoadedModulesFn EnumerateLoadedModules;
};
Helper g_helper;
bool g_symbols_started = false;

char g_text[kTextSize];
char g_report_name[kTextSize];
int g_report = -1;
unsigned g_report_size = 0;
char g_module_name[kTextSize];
alignas(4) unsigned char g_symbol_area[kSymbolAreaSize];
dbghelp::Line g_line;
dbghelp::StackFrame g_frame;
unsigned g_frame_count = 0;

char const* ExceptionName(unsigned code) {
  switch (code) {
    case plat::kExceptionAccessViolation:
      return "EXCEPTION_ACCESS_VIOLATION";
    case plat::kExceptionDatatypeMisalignment:
      return "EXCEPTION_DATATYPE_MISALIGNMENT";
    case plat::kExceptionBreakpoint:
      return "EXCEPTION_BREAKPOINT";
    case plat::kExceptionSingleStep:
      return "EXCEPTION_SINGLE_STEP";
    case plat::kExceptionArrayBoundsExceeded:
      return "EXCEPTION_ARRAY_BOUNDS_EXCEEDED";
    case plat::kExceptionFltDenormalOperand:
      return "EXCEPTION_FLT_DENORMAL_OPERAND";
    case plat::kExceptionFltDivideByZero:
      return "EXCEPTION_FLT_DIVIDE_BY_ZERO";
    case plat::kExceptionFltInexactResult:
      return "EXCEPTION_FLT_INEXACT_RESULT";
    case plat::kExceptionFltInvalidOperation:
      return "EXCEPTION_FLT_INVALID_OPERATION";
    case plat::kExceptionFltOverflow:
      return "EXCEPTION_FLT_OVERFLOW";
    case plat::kExceptionFltStackCheck:
      return "EXCEPTION_FLT_STACK_CHECK";
    case plat::kExceptionFltUnderflow:
      return "EXCEPTION_FLT_UNDERFLOW";
    case plat::kExceptionIntDivideByZero:
      return "EXCEPTION_INT_DIVIDE_BY_ZERO";
    case plat::kExceptionIntOverflow:
      return "EXCEPTION_INT_OVERFLOW";
    case plat::kExceptionPrivInstruction:
      return "EXCEPTION_PRIV_INSTRUCTION";
    case plat::kExceptionInPageError:
      return "EXCEPTION_IN_PAGE_ERROR";
    case plat::kExceptionIllegalInstruction:
      return "EXCEPTION_ILLEGAL_INSTRUCTION";
    case plat::kExceptionNoncontinuableException:
      return "EXCEPTION_NONCONTINUABLE_EXCEPTION";
    case plat::kExceptionStackOverflow:
      return "EXCEPTION_STACK_OVERFLOW";
    case plat::kExceptionInvalidDisposition:
      return "EXCEPTION_INVALID_DISPOSITION";
    case plat::kExceptionGuardPage:
      return "EXCEPTION_GUARD_PAGE";
    case plat::kExceptionInvalidHandle:
      return "EXCEPTION_INVALID_HANDLE";
  }
  return nullptr;
}

// A report line in g_text, cut at the buffer's end; after a cut nothing more is added.
class Line {
 public:
  Line() : length_(0), closed_(false) { g_text[0] = '\0'; }

  std::size_t length() const { return length_; }
  bool closed() const { return closed_; }

  void Append(char const* text) { Format("%s", text); }

  void Format(char const* format, ...) __attribute__((format(printf, 2, 3))) {
    if (closed_) return;
    va_list arguments;
    va_start(arguments, format);
    int wrote = std::vsnprintf(g_text + length_, kTextSize - length_, format, arguments);
    va_end(arguments);
    if (wrote < 0) return;
    length_ += static_cast<std::size_t>(wrote);
    if (length_ >= kTextSize) {
      length_ = kTextSize - 1;
      closed_ = true;
    }
  }

  // A name longer than limit minus the line so far is copied as far as it fits, and the
  // line ends there. True when the name was cut.
  bool AppendCut(char const* name, std::size_t limit) {
    if (closed_) return true;
    std::size_t name_length = std::strlen(name);
    if (length_ <= limit && name_length <= limit - length_) return false;
    Append(name);
    closed_ = true;
    return true;
  }

 private:
  std::size_t length_;
  bool closed_;
};

void ClearSymbolRecords() {
  std::memset(g_symbol_area, 0, sizeof g_symbol_area);
  dbghelp::Symbol* symbol = reinterpret_cast<dbghelp::Symbol*>(g_symbol_area);
  symbol->size_of_struct = kSymbolRecordSize;
  symbol->max_name_length = kSymbolMaxName;
  std::memset(&g_line, 0, sizeof g_line);
  g_line.size_of_struct = kLineRecordSize;
}

// Done at installation: the helper loads, reports the modules and reads their symbols
// and lines there, where locks and the heap may be used.
void StartSymbols() {
  if (g_symbols_started) return;
  g_helper.SymSetOptions(g_helper.SymGetOptions() | dbghelp::kOptionDeferredLoads |
                         dbghelp::kOptionLoadLines);
  g_symbols_started = g_helper.SymInitialize(kCurrentProcess, nullptr, 1) != 0;
}

template <typename Function>
bool Find(plat::LibraryHandle library, char const* name, Function* function) {
  *function = reinterpret_cast<Function>(plat::GetProcAddress(library, name));
  return *function != nullptr;
}

// Searches KOV_PATH's directories in order for External/<helper>. Runs at installation
// and says nothing: what went wrong is kept in g_load_message for the crash.
bool LoadHelper() {
  g_load_message[0] = '\0';
  char const* path = std::getenv(kPathVariable);
  if (path == nullptr) return false;
  plat::LibraryHandle library = nullptr;
  while (library == nullptr && *path != '\0') {
    char const* end = std::strchr(path, kPathSeparator);
    std::size_t length = end == nullptr ? std::strlen(path) : static_cast<std::size_t>(end - path);
    if (length > 0 &&
        std::snprintf(g_text, kTextSize, "%.*s%s%s", static_cast<int>(length), path,
                      kHelperDirectory, dbghelp::kFileName) < static_cast<int>(kTextSize)) {
      if (plat::AccessFile(g_text, plat::FileAccess::kExists)) {
        library = plat::LoadLibrary(g_text);
        if (library == nullptr) {
          // The loader's own reason follows the code: "Unexpected error 0" told nothing.
          std::snprintf(g_load_message, kTextSize, "Unexpected error %u: %s\n",
                        kErrorBadExeFormat, plat::LoadLibraryErrorText());
          return false;
        }
      }
    }
    path = end == nullptr ? path + length : end + 1;
  }
  if (library == nullptr) {
    std::snprintf(g_load_message, kTextSize, "dbghelp.dll not found in KOV_PATH");
    return false;
  }
  // A library without every operation is of no use; it stays loaded, unused.
  Helper found = {};
  if (!Find(library, "SymGetOptions", &found.SymGetOptions) ||
      !Find(library, "SymGetLineFromAddr", &found.SymGetLineFromAddr) ||
      !Find(library, "SymInitialize", &found.SymInitialize) ||
      !Find(library, "SymSetOptions", &found.SymSetOptions) ||
      !Find(library, "SymFunctionTableAccess", &found.SymFunctionTableAccess) ||
      !Find(library, "StackWalk", &found.StackWalk) ||
      !Find(library, "SymGetSymFromAddr", &found.SymGetSymFromAddr) ||
      !Find(library, "SymGetModuleBase", &found.SymGetModuleBase) ||
      !Find(library, "EnumerateLoadedModules", &found.EnumerateLoadedModules)) {
    return false;
  }
  found.loaded = true;
  g_helper = found;
  return true;
}

struct ModuleSearch {
  unsigned base;
  bool found;
};

int MatchModule(char const* name, unsigned base, unsigned, void* user) {
  ModuleSearch* search = static_cast<ModuleSearch*>(user);
  if (base != search->base || search->found) return 1;
  char const* slash = std::strrchr(name, '/');
  std::snprintf(g_module_name, kTextSize, "%s", slash == nullptr ? name : slash + 1);
  search->found = true;
  return 1;
}

// The base name of the module loaded at base, or null.
char const* ModuleBaseName(unsigned base) {
  ModuleSearch search{base, false};
  g_helper.EnumerateLoadedModules(kCurrentProcess, MatchModule, &search);
  return search.found ? g_module_name : nullptr;
}

// ", symbol" and ", file, line" for an address, as far as they are known.
void AppendSymbolAndLine(Line* line, unsigned address, bool blank_after_exact_symbol) {
  ClearSymbolRecords();
  dbghelp::Symbol* symbol = reinterpret_cast<dbghelp::Symbol*>(g_symbol_area);
  unsigned displacement = 0;
  if (!g_helper.SymGetSymFromAddr(kCurrentProcess, address, &displacement, symbol)) return;
  line->Append(", ");
  if (line->AppendCut(symbol->name, kSymbolNameLimit)) return;
  if (displacement != 0) {
    line->Format("%s()+%04d byte(s)", symbol->name, static_cast<int>(displacement));
  } else {
    line->Format(blank_after_exact_symbol ? "%s " : "%s", symbol->name);
  }
  if (!g_helper.SymGetLineFromAddr(kCurrentProcess, address, &displacement, &g_line)) return;
  line->Append(", ");
  if (line->AppendCut(g_line.file_name, kFileNameLimit)) return;
  if (displacement != 0) {
    line->Format("%s, line %04d+%04d byte(s)", g_line.file_name,
                 static_cast<int>(g_line.line_number), static_cast<int>(displacement));
  } else {
    line->Format("%s, line %04d", g_line.file_name, static_cast<int>(g_line.line_number));
  }
}

// The fault's name: one of the named codes, else the system's text for the code.
void AppendExceptionName(Line* line, unsigned code) {
  char const* name = ExceptionName(code);
  if (name != nullptr) {
    line->Append(name);
    return;
  }
  char text[kTextSize];
  if (plat::FormatExceptionMessage(code, text, sizeof text)) line->Append(text);
  if (code == plat::kExceptionCpp) line->Append(g_exception_detail);
}

void WriteFaultLine(plat::ExceptionPointers const* exception) {
  unsigned address = exception->record->address;
  plat::GetModuleBaseName(g_module_name, kTextSize);
  Line line;
  line.Append(g_module_name);
  line.Append(" caused an ");
  AppendExceptionName(&line, exception->record->code);
  line.Append(" in module ");
  unsigned base = g_helper.SymGetModuleBase(kCurrentProcess, address);
  char const* module = base == 0 ? nullptr : ModuleBaseName(base);
  if (module == nullptr) module = "<UNKNOWN>";
  line.Append(module);
  line.Format(" at %04X:%08X", exception->context->code_segment, address);
  AppendSymbolAndLine(&line, address, true);
}

// The next frame's line in g_text; false at the end of the stack.
bool DescribeFrame(plat::ExceptionPointers const* exception, unsigned options) {
  if (!g_helper.StackWalk(dbghelp::kMachineI386, kCurrentProcess, 0, &g_frame,
                          exception->context->machine_context, nullptr,
                          g_helper.SymFunctionTableAccess, g_helper.SymGetModuleBase, nullptr)) {
    return false;
  }
  if (g_frame.frame.offset == 0) return false;
  unsigned pc = g_frame.pc.offset;
  unsigned base = g_helper.SymGetModuleBase(kCurrentProcess, pc);
  if (base == 0) return false;
  Line line;
  line.Format("%04X:%08X", exception->context->code_segment, pc);
  if (options & kOptionModule) {
    char const* module = ModuleBaseName(base);
    line.Format(" %s", module == nullptr ? "" : module);
  }
  if (options & kOptionSymbol) AppendSymbolAndLine(&line, pc, false);
  return true;
}

void StartFrames(plat::ExceptionPointers const* exception) {
  std::memset(&g_frame, 0, sizeof g_frame);
  g_frame.pc = {exception->context->instruction_pointer, 0, dbghelp::kAddressFlat};
  g_frame.stack = {exception->context->stack_pointer, 0, dbghelp::kAddressFlat};
  g_frame.frame = {exception->context->frame_pointer, 0, dbghelp::kAddressFlat};
}

// The report goes out with plain writes, a line at a time: no stdio, whose locks the
// crashed process may hold.
void WriteReportText(char const* text) {
  unsigned length = static_cast<unsigned>(std::strlen(text));
  if (plat::WriteOutputFile(g_report, g_report_size, text, length)) g_report_size += length;
}

void WriteReportLine(char const* text) {
  WriteReportText(text);
  WriteReportText("\n");
}

int WriteModuleLine(char const* name, unsigned base, unsigned size, void*) {
  Line line;
  line.Format("%s:\t%08X - %08X", name, base, base + size);
  WriteReportLine(g_text);
  return 1;
}

// Runs in a copy of the faulting process. It takes no lock, allocates nothing and does
// not call the loader: everything it uses was made at installation.
void WriteReport(void* argument) {
  plat::ExceptionPointers const* exception = static_cast<plat::ExceptionPointers*>(argument);
  if (!g_helper.loaded || !g_symbols_started) {
    plat::WriteStandardError(g_load_message);
    return;
  }
  g_report = plat::CreateOutputFile(g_report_name);
  // An unwritable directory: no report, and the verdict stands.
  if (g_report < 0) return;
  g_report_size = 0;
  WriteFaultLine(exception);
  WriteReportLine(g_text);
  StartFrames(exception);
  if (g_frame_count < kMaxFrames && DescribeFrame(exception, kFrameOptions)) {
    for (;;) {
      WriteReportLine(g_text);
      bool more = DescribeFrame(exception, kFrameOptions);
      ++g_frame_count;
      if (!more || g_frame_count >= kMaxFrames) break;
    }
  }
  WriteReportText("\n");
  g_helper.EnumerateLoadedModules(kCurrentProcess, WriteModuleLine, nullptr);
  plat::CloseOutputFile(g_report);
}

int CrashFilter(plat::ExceptionPointers* exception) {
  plat::RunInProcessCopy(WriteReport, exception, kReportTimeoutMs);
  return g_popup ? plat::kExceptionContinueSearch : plat::kExceptionExecuteHandler;
}

// An exception that nobody catches reaches the filter as the system's C++ exception,
// with its type and text in the fault line; the stack is still whole here (the search
// for a handler found none before anything was unwound).
[[noreturn]] void OnTerminate() {
  g_exception_detail[0] = '\0';
  std::type_info const* type = abi::__cxa_current_exception_type();
  if (type != nullptr) {
    int status = -1;
    char* demangled = abi::__cxa_demangle(type->name(), nullptr, nullptr, &status);
    char const* what = nullptr;
    try {
      throw;
    } catch (std::exception const& error) {
      what = error.what();
    } catch (...) {
    }
    int used = std::snprintf(g_exception_detail, kTextSize, " of type %s",
                             status == 0 && demangled != nullptr ? demangled : type->name());
    if (what != nullptr && used > 0 && static_cast<std::size_t>(used) < kTextSize) {
      std::snprintf(g_exception_detail + used, kTextSize - used, " (%.*s)",
                    static_cast<int>(kWhatLimit), what);
    }
    std::free(demangled);
  }
  plat::RaiseUnhandledException(plat::kExceptionCpp);
  // The popup verdict: the runtime's own handling follows (its message, then abort).
  if (g_previous_terminate != nullptr) g_previous_terminate();
  std::abort();
}

}  // namespace

namespace frame {

// Everything the report needs is made here, while the process is sound.
void InstallCrashFilter() {
  if (std::getenv(kPopupVariable) != nullptr) {
    g_popup = true;
    omi_setErrorMode();
  }
  if (!g_helper.loaded && LoadHelper()) StartSymbols();
  if (g_report_name[0] == '\0') {
    plat::GetModuleBaseName(g_report_name, kTextSize - sizeof kReportSuffix);
    std::strcat(g_report_name, kReportSuffix);
  }
  std::terminate_handler previous = std::set_terminate(OnTerminate);
  if (previous != OnTerminate) g_previous_terminate = previous;
  g_previous_filter = plat::SetUnhandledExceptionFilter(CrashFilter);
}

}  // namespace frame
