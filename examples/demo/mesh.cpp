#include "mesh.h"

namespace {

// Octree leaves are not divided below a tenth of an element.
constexpr float kFinestFraction = 0.1f;

}  // namespace

BoxMesh::BoxMesh(int cells, float size) : cells_(cells), step_(size / cells), tree_(nullptr) {
  float const half = size / 2;
  omi_OctVector const centre = {half, half, half};
  omi_OctVector const half_size = {half, half, half};
  tree_ = new omi_Octree(centre, half_size, step_ * kFinestFraction, &BoxMesh::ElementBox, this);
  for (int element = 0; element < ElementCount(); ++element) {
    omi_OctVector min, max;
    Corners(static_cast<unsigned int>(element), &min, &max);
    tree_->InsertBox(static_cast<unsigned int>(element), min, max);
    int const i = element % cells_, j = (element / cells_) % cells_, k = element / (cells_ * cells_);
    for (int corner = 0; corner < 8; ++corner) {
      int const node = NodeId(i + (corner & 1), j + ((corner >> 1) & 1), k + ((corner >> 2) & 1));
      if (int* valence = node_valence_.Find(node)) {
        ++*valence;
      } else {
        node_valence_.Insert(node, 1);
      }
    }
  }
}

BoxMesh::~BoxMesh() { delete tree_; }

void BoxMesh::Corners(unsigned int element, omi_OctVector* min, omi_OctVector* max) const {
  int const e = static_cast<int>(element);
  int const i = e % cells_, j = (e / cells_) % cells_, k = e / (cells_ * cells_);
  *min = {i * step_, j * step_, k * step_};
  *max = {(i + 1) * step_, (j + 1) * step_, (k + 1) * step_};
}

void BoxMesh::ElementBox(void* mesh, unsigned int id, float* min, float* max) {
  omi_OctVector low, high;
  static_cast<BoxMesh const*>(mesh)->Corners(id, &low, &high);
  for (int axis = 0; axis < omi_OctVector::kAxes; ++axis) {
    min[axis] = low[axis];
    max[axis] = high[axis];
  }
}

int BoxMesh::ElementsAt(float x, float y, float z) const {
  float const point[3] = {x, y, z};
  omi_OctreeLeaf const* leaf = tree_->FindCell(point);
  if (leaf == nullptr) return 0;
  int found = 0;
  for (unsigned int n = 0; n < leaf->BoxCount(); ++n) {
    omi_OctVector min, max;
    Corners(leaf->BoxId(n), &min, &max);
    if (x >= min.x && x <= max.x && y >= min.y && y <= max.y && z >= min.z && z <= max.z) {
      ++found;
    }
  }
  return found;
}

int BoxMesh::LeavesAlong(float const* from, float const* to) const {
  float start[3] = {from[0], from[1], from[2]};
  float end[3] = {to[0], to[1], to[2]};
  omi_OctreeLineTrav ray;
  if (!ray.Init(tree_, start, end, 0.0f)) return 0;
  int leaves = 0;
  while (ray.NextCell() != nullptr) ++leaves;
  return leaves;
}

double BoxMesh::ApplyTemperature() {
  double sum = 0;
  for (int k = 0; k <= cells_; ++k) {
    for (int j = 0; j <= cells_; ++j) {
      for (int i = 0; i <= cells_; ++i) {
        double const value = 20.0 + 80.0 / (1.0 + i + j + k);
        node_temperature_.Insert(NodeId(i, j, k), value);
        sum += value;
      }
    }
  }
  return sum / node_temperature_.Count();
}

int BoxMesh::InteriorNodes() const {
  int interior = 0;
  omi_IntTableIterator<int> node(node_valence_);
  for (node.First(); !node.IsDone(); node.Next()) {
    if (node.CurrentValue() == 8) ++interior;
  }
  return interior;
}
