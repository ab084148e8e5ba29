// The launcher's own version: one whole number that only grows, set once in
// CMakeLists.txt. A served launcher replaces this one only when its signed
// document names a higher number.
#pragma once

#include <cstdint>

#ifndef TVL_LAUNCHER_VERSION
#error "TVL_LAUNCHER_VERSION comes from CMakeLists.txt"
#endif

constexpr int32_t kLauncherVersion = TVL_LAUNCHER_VERSION;
