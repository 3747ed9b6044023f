// A structured mesh of hexahedral elements, as a pre-processor would hold it: element boxes
// in an octree for point location and ray picking, node data in integer-keyed tables under
// the application's sparse node ids.
#ifndef VR_DEMO_MESH_H
#define VR_DEMO_MESH_H

#include "varururor/varururor.h"

class BoxMesh {
 public:
  // cells elements along each axis of the cube [0, size]^3.
  BoxMesh(int cells, float size);
  BoxMesh(BoxMesh const&) = delete;
  BoxMesh& operator=(BoxMesh const&) = delete;
  ~BoxMesh();

  int ElementCount() const { return cells_ * cells_ * cells_; }
  unsigned int NodeCount() const { return node_valence_.Count(); }
  // The application numbers nodes sparsely: 1000 per layer and row.
  int NodeId(int i, int j, int k) const { return 1000000 * k + 1000 * j + i + 1; }

  // Elements whose box holds the point, found through the octree's leaf.
  int ElementsAt(float x, float y, float z) const;
  // Leaves along a ray through the mesh (a pick in a viewer).
  int LeavesAlong(float const* from, float const* to) const;
  // A field on the nodes: temperature falling off from a corner; returns its mean.
  double ApplyTemperature();
  // Nodes shared by eight elements (interior nodes).
  int InteriorNodes() const;

 private:
  static void ElementBox(void* mesh, unsigned int id, float* min, float* max);
  void Corners(unsigned int element, omi_OctVector* min, omi_OctVector* max) const;

  int cells_;
  float step_;
  omi_Octree* tree_;
  omi_IntTable<int> node_valence_;
  omi_IntTable<double> node_temperature_;
};

#endif
