#include "plat/error_mode.h"

#include <atomic>

namespace plat {
namespace {
std::atomic<unsigned> g_error_mode{0};
}  // namespace

unsigned SetErrorMode(unsigned mode) { return g_error_mode.exchange(mode); }

unsigned GetErrorMode() { return g_error_mode.load(); }

}  // namespace plat
