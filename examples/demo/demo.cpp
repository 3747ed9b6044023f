// The library's main job, start to finish, as an analysis program uses it: start-up; a
// mesh of boxes in an octree with node data in integer tables; a solver whose factor
// blocks live in numbered pools under a memory limit, with a purge worker; messages
// translated from a dictionary; small blocks routed to the thread-block pool; every
// allocation tracked by phase; the memory reports; shutdown, and the tracking summary.
//
// The library reads its settings from the environment once, at start-up, as a program
// started by the application's launcher would find them; the demo is its own launcher:
// it sets them and starts itself again. The tracking files and reports go to
// ./vr_demo_run/; the demo prints their absolute names. Of the library's reports it shows
// the lines that tell its story, as the library writes them, and says in which unit.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>

#include <unistd.h>

#include "mesh.h"
#include "solver_cache.h"
#include "varururor/varururor.h"

namespace {

constexpr char kRunDirectory[] = "vr_demo_run";
constexpr char kLaunchedMark[] = "VR_DEMO_LAUNCHED";
constexpr char kTrackingName[] = "demo";
constexpr int kMeshCells = 24;
constexpr float kMeshSize = 2.0f;
constexpr int kSolverPools = 2;
constexpr unsigned int kSolverMemoryLimit = 6u << 20;  // room for about a third of the blocks
constexpr int kBlocksPerPool = 16;
constexpr int kSweeps = 4;

// Sets what the application's launcher sets, and starts the program again.
int Relaunch(char** argv) {
  std::filesystem::remove_all(kRunDirectory);
  std::filesystem::create_directory(kRunDirectory);
  std::string const run = std::filesystem::absolute(kRunDirectory).string();
  setenv("KOV_MEM_TRACK", "1", 1);
  setenv("KOV_MEM_OUTPUTDIR", run.c_str(), 1);
  setenv("KOV_CACHEMANAGER_USEFREELIST", "1", 1);
  setenv("KOVRIN_SUPPORTED_LOCALE", "1", 1);
  setenv("KOVRIN_LANG", "de_DE.UTF-8", 1);
  setenv("KOVRIN_TRANSLATION_DICTIONARY", "de_DE_Dict.py", 1);
  setenv("KOV_PATH", VR_DEMO_DICTIONARY_DIR, 1);
  setenv(kLaunchedMark, "1", 1);
  execv("/proc/self/exe", argv);
  std::perror("demo: cannot start itself again");
  return 1;
}

// A message from the dictionary with its values filled in.
template <typename... Values>
void Say(char const* message, Values... values) {
  atr_translate t(message);
  int n = 0;
  (atr_SubstituteFormat(t, ++n, values), ...);
  std::printf("  %s\n", t.Result().CStr());
}

// The lines of a report that say something: those that do not end in idle_ending (a row
// of zeros or of defaults). Returns how many were left out.
int PrintTellingLines(std::string const& path, std::string const& idle_ending) {
  std::ifstream in(path);
  int left_out = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.size() >= idle_ending.size() &&
        line.compare(line.size() - idle_ending.size(), idle_ending.size(), idle_ending) == 0) {
      ++left_out;
    } else {
      std::printf("  %s\n", line.c_str());
    }
  }
  return left_out;
}

void BuildAndQueryMesh() {
  mem_Tracker_Interface::EnterPhase("model", 0);
  {
    mem_Tracker_Interface::EnterPhase("mesh", 0);
    BoxMesh mesh(kMeshCells, kMeshSize);
    Say("Mesh of %1$d elements and %2$d nodes, %3$d of them inside", mesh.ElementCount(),
        static_cast<int>(mesh.NodeCount()), mesh.InteriorNodes());
    mem_Tracker_Interface::ExitPhase(0);

    mem_Tracker_Interface::EnterPhase("locate", 0);
    float const step = kMeshSize / kMeshCells;
    for (float point : {4.5f * step, 12.0f * step}) {  // inside one element; on a node
      Say("Point (%1$.2f, %2$.2f, %3$.2f) lies in %4$d elements", point, point, point,
          mesh.ElementsAt(point, point, point));
    }
    float const from[3] = {-1.0f, 0.3f, 0.7f};
    float const to[3] = {3.0f, 1.7f, 1.1f};
    Say("A ray through the model crosses %1$d octree cells", mesh.LeavesAlong(from, to));
    mem_Tracker_Interface::ExitPhase(0);

    mem_Tracker_Interface::EnterPhase("field", 0);
    Say("Mean nodal temperature: %1$.1f degrees", mesh.ApplyTemperature());
    mem_Tracker_Interface::ExitPhase(0);
  }
  mem_Tracker_Interface::ExitPhase(0);
}

// The solver's data kinds on its pools, as the application's set-up would map them.
void MapResources() {
  mem_MemoryResourceHolder& resources = mem_MemoryContainer::Instance().Resources();
  int const local_factor = mem_MemoryResourceHolder::ResourceIndex("std_localfactor");
  int const local_stack = mem_MemoryResourceHolder::ResourceIndex("std_localstack");
  resources.SetPool(local_factor, 1);
  resources.SetPriority(local_factor, 20);
  resources.SetAllowance(local_factor, kSolverMemoryLimit / 2);
  resources.SetPool(local_stack, 2);
  resources.SetInCore(local_stack, false);
}

void Solve(std::string const& run) {
  mem_Tracker_Interface::EnterPhase("solve", 0);
  MapResources();
  {
    SolverCache solver(kSolverPools, kSolverMemoryLimit);
    int const blocks = solver.Solve(kBlocksPerPool, kSweeps);
    Say("Solver: %1$d factor blocks in %2$d pools, %3$d rebuilt after purging", blocks,
        kSolverPools, static_cast<int>(solver.Factorisations() - blocks));
    solver.Report((run + "/pools.txt").c_str());
  }
  mem_Tracker_Interface::ExitPhase(0);
  std::string const resources = run + "/resources.txt";
  std::FILE* file = std::fopen(resources.c_str(), "w");
  if (file != nullptr) {
    mem_MemoryContainer::Instance().Resources().ReportResources(file);
    std::fclose(file);
  }
  mem_MemoryContainer::Finalize();  // closes the report file
  std::printf("\nResources: the solver's two kinds of data on pools 1 and 2; allowance in MiB\n");
  int left_out =
      PrintTellingLines(resources, "-- pool 0 -- incore 1 -- priority 0 -- allowance 0.000000");
  std::printf("  (%d more at the defaults: pool 0, in core, priority 0, no allowance)\n", left_out);
  std::printf("  whole report: %s\n", resources.c_str());
  std::printf(
      "\nPools and cache manager: what each purge list, bin and pool holds, in MiB;\n"
      "high and low are the pool's purge marks, maxUsed its most\n");
  left_out = PrintTellingLines(run + "/pools.txt", " 0.000000");
  std::printf("  (%d lists and bins holding nothing left out)\n", left_out);
  std::printf("  whole report: %s/pools.txt\n", run.c_str());
}

void HeapReports() {
  mem_DLMallinfoResult const heap = mem_DLMallinfo();
  std::printf("\nHeap: %s, %u bytes from the system (at most %u), %u in use, %u free\n",
              mem_UseDL() ? "library" : "platform", mem_Footprint(), mem_MaxFootprint(),
              heap.uordblks, heap.fordblks);
  std::printf(
      "\nAddress space of the process, in bytes (the library writes it to standard "
      "error):\n");
  std::fflush(stdout);
  mem_ScanMemory(MEM_SCAN_SUMMARY_ONLY, 0x7FFFFFFF);
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv(kLaunchedMark) == nullptr) return Relaunch(argv);
  std::string const run = std::getenv("KOV_MEM_OUTPUTDIR");

  int started = 0;
  UTI_VaruRuror_initialize(started);
  std::printf("library started: %d modules\n", started);
  mem_Tracker_Interface::SetOutputName(kTrackingName);
  mem_TBAllocator(2);  // small blocks to the thread-block pool
  atr_tr_enable(true);
  std::printf("messages for %s from %s\n", std::getenv("KOVRIN_LANG"),
              std::getenv("KOVRIN_TRANSLATION_DICTIONARY"));

  BuildAndQueryMesh();
  Solve(run);
  HeapReports();

  UTI_VaruRuror_finalize(started);
  std::printf("library stopped: %d modules\n", started);

  std::string const base = run + "/" + kTrackingName;
  std::printf(
      "\nAllocation tracking, in bytes: memtrack's summary of %s.memT0 and "
      "%s.phaseStack\n",
      base.c_str(), base.c_str());
  std::fflush(stdout);
  std::string const memtrack = VR_MEMTRACK_PATH;
  if (std::system((memtrack + " " + base).c_str()) != 0) return 1;
  if (std::system((memtrack + " --html " + base + ".html " + base).c_str()) != 0) return 1;
  std::printf("\nThe plot of live bytes by phase: %s.html\n", base.c_str());
  return 0;
}
