// Any bytes given to the GGUF reader give a result or an error, within the
// input's own size in memory and time.

#include <cstddef>
#include <cstdint>

#include "model/gguf_reader.hpp"
#include "model/model_ir.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto m = bc::read_gguf_bytes({data, size});
  if (m) {
    bc::ModelIr ir = bc::model_ir_from_gguf(*m);
    (void)ir;
  } else {
    (void)m.error().full_message();
  }
  return 0;
}
