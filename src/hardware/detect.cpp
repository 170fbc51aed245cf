#include "hardware/detect.hpp"

#include "hardware/cpu.hpp"
#include "hardware/gpu.hpp"
#include "hardware/memory.hpp"

namespace bc {

HardwareProfile detect_hardware() {
  HardwareProfile profile;
  profile.cpu = detect_cpu();
  profile.gpu = detect_gpu();
  profile.ram = detect_ram();
  return profile;
}

}  // namespace bc
