#pragma once
// The machine's hardware profile: CPU, then GPU, then RAM.

#include "core/records.hpp"

namespace bc {

// Probes everything again on each call (the GPU tools included); never fails
// and prints nothing.
HardwareProfile detect_hardware();

}  // namespace bc
