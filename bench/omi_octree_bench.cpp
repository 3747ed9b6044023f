// The octree against a brute-force scan and a uniform grid, on one million boxes spread
// uniformly over a cube of 2000 units (edges of 0.5 to 4 units):
//   Locate     the cell of a point: FindCell, against the grid's cell index;
//   Query      the boxes containing a point: the located leaf's or grid cell's ids tested,
//              against testing every box;
//   Line       the cells along a chord of the cube: the line traversal (tolerance 0, 8 and
//              24 units), against a 3D DDA walk of the grid; LineBoxes tests every box
//              against the segment instead.
// The grid has 40^3 cells of 50 units. Counters: cells (leaves or grid cells) per line,
// candidate ids (those of the leaf or grid cell) per point query.
//   bench_omi_octree [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "varururor/varururor.h"

namespace {

constexpr unsigned kBoxes = 1000000;
constexpr float kHalf = 1000;
constexpr float kMinimumHalfSize = 1;
constexpr unsigned kGrid = 40;
constexpr unsigned kQueries = 4096;
constexpr unsigned kSeed = 4242;

struct Box {
  float min[3];
  float max[3];
};

void BoxBounds(void* data, unsigned int id, float* min, float* max) {
  Box const& box = static_cast<Box const*>(data)[id];
  for (int axis = 0; axis < 3; ++axis) {
    min[axis] = box.min[axis];
    max[axis] = box.max[axis];
  }
}

bool Contains(Box const& box, float const* p) {
  for (int axis = 0; axis < 3; ++axis) {
    if (p[axis] < box.min[axis] || p[axis] > box.max[axis]) return false;
  }
  return true;
}

// Whether the segment from p0 along d (0 <= t <= 1) meets the box.
bool Meets(Box const& box, float const* p0, float const* d) {
  float enter = 0;
  float leave = 1;
  for (int axis = 0; axis < 3; ++axis) {
    if (d[axis] == 0) {
      if (p0[axis] < box.min[axis] || p0[axis] > box.max[axis]) return false;
      continue;
    }
    float inverse = 1 / d[axis];
    float a = (box.min[axis] - p0[axis]) * inverse;
    float b = (box.max[axis] - p0[axis]) * inverse;
    enter = std::max(enter, std::min(a, b));
    leave = std::min(leave, std::max(a, b));
  }
  return enter <= leave;
}

// A uniform grid over the cube: each cell lists the boxes that touch it.
class Grid {
 public:
  explicit Grid(std::vector<Box> const& boxes) : start_(kGrid * kGrid * kGrid + 1, 0) {
    auto range = [](float lo, float hi, unsigned& first, unsigned& last) {
      first = Index(lo);
      last = Index(hi);
    };
    // Two passes: count per cell, then place.
    for (int pass = 0; pass < 2; ++pass) {
      std::vector<unsigned> fill(start_.begin(), start_.end() - 1);
      for (unsigned id = 0; id < boxes.size(); ++id) {
        unsigned first[3], last[3];
        for (int axis = 0; axis < 3; ++axis) {
          range(boxes[id].min[axis], boxes[id].max[axis], first[axis], last[axis]);
        }
        for (unsigned z = first[2]; z <= last[2]; ++z) {
          for (unsigned y = first[1]; y <= last[1]; ++y) {
            for (unsigned x = first[0]; x <= last[0]; ++x) {
              unsigned cell = (z * kGrid + y) * kGrid + x;
              if (pass == 0) {
                ++start_[cell + 1];
              } else {
                ids_[fill[cell]++] = id;
              }
            }
          }
        }
      }
      if (pass == 0) {
        for (unsigned cell = 0; cell + 1 < start_.size(); ++cell) start_[cell + 1] += start_[cell];
        ids_.resize(start_.back());
      }
    }
  }

  static unsigned Index(float coordinate) {
    float cell = (coordinate + kHalf) * (kGrid / (2 * kHalf));
    if (!(cell > 0)) return 0;
    return std::min(static_cast<unsigned>(cell), kGrid - 1);
  }
  unsigned Cell(float const* p) const {
    return (Index(p[2]) * kGrid + Index(p[1])) * kGrid + Index(p[0]);
  }
  unsigned const* Begin(unsigned cell) const { return ids_.data() + start_[cell]; }
  unsigned const* End(unsigned cell) const { return ids_.data() + start_[cell + 1]; }

  // The cells a segment passes through, in order (Amanatides and Woo).
  template <typename Visit>
  void Walk(float const* p0, float const* p1, Visit visit) const {
    constexpr float kCell = 2 * kHalf / kGrid;
    int cell[3];
    int step[3];
    float next[3];
    float delta[3];
    for (int axis = 0; axis < 3; ++axis) {
      cell[axis] = static_cast<int>(Index(p0[axis]));
      float d = p1[axis] - p0[axis];
      step[axis] = d > 0 ? 1 : -1;
      float boundary = -kHalf + (cell[axis] + (d > 0 ? 1 : 0)) * kCell;
      next[axis] = d != 0 ? (boundary - p0[axis]) / d : INFINITY;
      delta[axis] = d != 0 ? kCell / std::fabs(d) : INFINITY;
    }
    for (;;) {
      visit((cell[2] * kGrid + cell[1]) * kGrid + cell[0]);
      int axis = next[0] < next[1] ? (next[0] < next[2] ? 0 : 2) : (next[1] < next[2] ? 1 : 2);
      if (next[axis] > 1) return;
      cell[axis] += step[axis];
      if (cell[axis] < 0 || cell[axis] >= static_cast<int>(kGrid)) return;
      next[axis] += delta[axis];
    }
  }

 private:
  std::vector<unsigned> start_;
  std::vector<unsigned> ids_;
};

struct World {
  World() {
    std::mt19937 random(kSeed);
    std::uniform_real_distribution<float> position(-kHalf, kHalf);
    std::uniform_real_distribution<float> edge(0.5f, 4);
    boxes.resize(kBoxes);
    for (Box& box : boxes) {
      for (int axis = 0; axis < 3; ++axis) {
        box.min[axis] = position(random);
        box.max[axis] = box.min[axis] + edge(random);
      }
    }
    tree.reset(new omi_Octree({0, 0, 0}, {kHalf, kHalf, kHalf}, kMinimumHalfSize, BoxBounds,
                              boxes.data()));
    for (unsigned id = 0; id < kBoxes; ++id) {
      Box const& box = boxes[id];
      tree->InsertBox(id, {box.min[0], box.min[1], box.min[2]},
                      {box.max[0], box.max[1], box.max[2]});
    }
    grid.reset(new Grid(boxes));
    for (unsigned i = 0; i < kQueries; ++i) {
      for (int axis = 0; axis < 3; ++axis) points.push_back(position(random));
    }
    // Chords between random points on two opposite faces.
    for (unsigned i = 0; i < kQueries; ++i) {
      int axis = static_cast<int>(i % 3);
      for (int end = 0; end < 2; ++end) {
        for (int a = 0; a < 3; ++a) {
          chords.push_back(a == axis ? (end == 0 ? -kHalf : kHalf) * 0.999f : position(random));
        }
      }
    }
  }

  std::vector<Box> boxes;
  std::unique_ptr<omi_Octree> tree;
  std::unique_ptr<Grid> grid;
  std::vector<float> points;  // x, y, z of each query point
  std::vector<float> chords;  // start and end of each segment
};

World& TheWorld() {
  static World world;
  return world;
}

void BM_Locate_Octree(benchmark::State& state) {
  World& w = TheWorld();
  unsigned i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(w.tree->FindCell(&w.points[3 * i]));
    i = (i + 1) % kQueries;
  }
}
BENCHMARK(BM_Locate_Octree);

void BM_Locate_Grid(benchmark::State& state) {
  World& w = TheWorld();
  unsigned i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(w.grid->Begin(w.grid->Cell(&w.points[3 * i])));
    i = (i + 1) % kQueries;
  }
}
BENCHMARK(BM_Locate_Grid);

void BM_Query_Octree(benchmark::State& state) {
  World& w = TheWorld();
  unsigned i = 0;
  double candidates = 0;
  for (auto _ : state) {
    float const* p = &w.points[3 * i];
    omi_OctreeLeaf const* leaf = w.tree->FindCell(p);
    unsigned found = 0;
    for (unsigned k = 0; k < leaf->BoxCount(); ++k) found += Contains(w.boxes[leaf->BoxId(k)], p);
    candidates += leaf->BoxCount();
    benchmark::DoNotOptimize(found);
    i = (i + 1) % kQueries;
  }
  state.counters["candidates"] = candidates / state.iterations();
}
BENCHMARK(BM_Query_Octree);

void BM_Query_Grid(benchmark::State& state) {
  World& w = TheWorld();
  unsigned i = 0;
  double candidates = 0;
  for (auto _ : state) {
    float const* p = &w.points[3 * i];
    unsigned cell = w.grid->Cell(p);
    unsigned found = 0;
    for (unsigned const* id = w.grid->Begin(cell); id != w.grid->End(cell); ++id) {
      found += Contains(w.boxes[*id], p);
    }
    candidates += w.grid->End(cell) - w.grid->Begin(cell);
    benchmark::DoNotOptimize(found);
    i = (i + 1) % kQueries;
  }
  state.counters["candidates"] = candidates / state.iterations();
}
BENCHMARK(BM_Query_Grid);

void BM_Query_BruteForce(benchmark::State& state) {
  World& w = TheWorld();
  unsigned i = 0;
  for (auto _ : state) {
    float const* p = &w.points[3 * i];
    unsigned found = 0;
    for (Box const& box : w.boxes) found += Contains(box, p);
    benchmark::DoNotOptimize(found);
    i = (i + 1) % kQueries;
  }
}
BENCHMARK(BM_Query_BruteForce)->Unit(benchmark::kMicrosecond);

// Argument: the tolerance.
void BM_Line_Octree(benchmark::State& state) {
  World& w = TheWorld();
  float tolerance = static_cast<float>(state.range(0));
  omi_OctreeLineTrav trav;
  unsigned i = 0;
  double cells = 0;
  for (auto _ : state) {
    float* chord = &w.chords[6 * i];
    trav.Init(w.tree.get(), chord, chord + 3, tolerance);
    for (omi_OctreeLeaf const* leaf = trav.NextCell(); leaf != nullptr; leaf = trav.NextCell()) {
      ++cells;
    }
    i = (i + 1) % kQueries;
  }
  state.counters["cells"] = cells / state.iterations();
}
BENCHMARK(BM_Line_Octree)->Arg(0)->Arg(8)->Arg(24)->Unit(benchmark::kMicrosecond);

void BM_Line_Grid(benchmark::State& state) {
  World& w = TheWorld();
  unsigned i = 0;
  double cells = 0;
  for (auto _ : state) {
    float const* chord = &w.chords[6 * i];
    unsigned visited = 0;
    w.grid->Walk(chord, chord + 3, [&visited](unsigned) { ++visited; });
    benchmark::DoNotOptimize(visited);
    cells += visited;
    i = (i + 1) % kQueries;
  }
  state.counters["cells"] = cells / state.iterations();
}
BENCHMARK(BM_Line_Grid)->Unit(benchmark::kMicrosecond);

void BM_LineBoxes_BruteForce(benchmark::State& state) {
  World& w = TheWorld();
  unsigned i = 0;
  for (auto _ : state) {
    float const* chord = &w.chords[6 * i];
    float d[3] = {chord[3] - chord[0], chord[4] - chord[1], chord[5] - chord[2]};
    unsigned met = 0;
    for (Box const& box : w.boxes) met += Meets(box, chord, d);
    benchmark::DoNotOptimize(met);
    i = (i + 1) % kQueries;
  }
}
BENCHMARK(BM_LineBoxes_BruteForce)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
