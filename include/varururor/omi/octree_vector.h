// A point, centre, half-size or box corner of the octree: three 32-bit floats.
#ifndef VARURUROR_OMI_OCTREE_VECTOR_H
#define VARURUROR_OMI_OCTREE_VECTOR_H

struct omi_OctVector {
  enum : int { kX = 0, kY = 1, kZ = 2, kAxes = 3 };

  float x;
  float y;
  float z;

  // The component on axis 0 (x), 1 (y) or 2 (z).
  float operator[](int axis) const { return axis == kX ? x : axis == kY ? y : z; }
  float& operator[](int axis) { return axis == kX ? x : axis == kY ? y : z; }
};

static_assert(sizeof(omi_OctVector) == 12, "three floats, x first");

#endif
