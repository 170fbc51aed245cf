// Any bytes given to the ONNX reader give a result or an error; the decoder
// never reads outside the input and never recurses past its limit.

#include <cstddef>
#include <cstdint>

#include "model/model_ir.hpp"
#include "model/onnx_reader.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto s = bc::read_onnx_bytes({data, size});
  if (s) {
    bc::ModelIr ir = bc::model_ir_from_onnx(*s);
    (void)ir;
  } else {
    (void)s.error().full_message();
  }
  return 0;
}
