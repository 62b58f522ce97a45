#include <bit>

#include "check.h"
#include "resource/prp/physical.h"

using namespace lumivex;

namespace {

Quaternion quat_of(float x, float y, float z, float w) {
  PlasmaWrite out;
  for (float v : {x, y, z, w}) out.write_u32(std::bit_cast<uint32_t>(v));
  PlasmaRead reader(out.bytes());
  return read_quat(reader);
}

}  // namespace

// Four zeros of either sign stand for the identity rotation.
TEST(zero_rotation_reads_as_identity) {
  CHECK_EQ(quat_of(0, 0, 0, 0).w, 1.0f);
  CHECK_EQ(quat_of(-0.0f, 0.0f, -0.0f, -0.0f).w, 1.0f);
  CHECK_EQ(quat_of(0, 0, 0, 2).w, 2.0f);
  CHECK_EQ(quat_of(0, 0, 0.5f, 0).w, 0.0f);
}
