#include "model/onnx_schema.hpp"

namespace bc::onnx_schema {

using proto::Field;
using proto::MessageType;
using enum proto::FieldType;

// Messages refer to each other in cycles (graphs hold nodes whose attributes
// hold graphs), so every table is declared before any is defined.
extern const MessageType kAttributeProto;
extern const MessageType kValueInfoProto;
extern const MessageType kNodeProto;
extern const MessageType kTrainingInfoProto;
extern const MessageType kStringStringEntryProto;
extern const MessageType kTensorAnnotation;
extern const MessageType kTensorSegment;
extern const MessageType kSparseTensorProto;
extern const MessageType kTensorShapeProto;
extern const MessageType kTensorShapeDimension;
extern const MessageType kTypeProto;
extern const MessageType kTypeTensor;
extern const MessageType kTypeSequence;
extern const MessageType kTypeMap;
extern const MessageType kTypeOptional;
extern const MessageType kTypeSparseTensor;
extern const MessageType kTypeOpaque;
extern const MessageType kOperatorSetIdProto;
extern const MessageType kFunctionProto;

namespace {

constexpr bool kOne = false;
constexpr bool kMany = true;

const Field kAttributeFields[] = {
    {1, "name", String, kOne},
    {21, "ref_attr_name", String, kOne},
    {13, "doc_string", String, kOne},
    {20, "type", Enum, kOne},
    {2, "f", Float, kOne},
    {3, "i", Int64, kOne},
    {4, "s", Bytes, kOne},
    {5, "t", Message, kOne, &kTensorProto},
    {6, "g", Message, kOne, &kGraphProto},
    {22, "sparse_tensor", Message, kOne, &kSparseTensorProto},
    {14, "tp", Message, kOne, &kTypeProto},
    {7, "floats", Float, kMany},
    {8, "ints", Int64, kMany},
    {9, "strings", Bytes, kMany},
    {10, "tensors", Message, kMany, &kTensorProto},
    {11, "graphs", Message, kMany, &kGraphProto},
    {23, "sparse_tensors", Message, kMany, &kSparseTensorProto},
    {15, "type_protos", Message, kMany, &kTypeProto},
};

const Field kValueInfoFields[] = {
    {1, "name", String, kOne},
    {2, "type", Message, kOne, &kTypeProto},
    {3, "doc_string", String, kOne},
};

const Field kNodeFields[] = {
    {1, "input", String, kMany},     {2, "output", String, kMany},
    {3, "name", String, kOne},       {4, "op_type", String, kOne},
    {7, "domain", String, kOne},     {5, "attribute", Message, kMany, &kAttributeProto},
    {6, "doc_string", String, kOne},
};

const Field kTrainingInfoFields[] = {
    {1, "initialization", Message, kOne, &kGraphProto},
    {2, "algorithm", Message, kOne, &kGraphProto},
    {3, "initialization_binding", Message, kMany, &kStringStringEntryProto},
    {4, "update_binding", Message, kMany, &kStringStringEntryProto},
};

const Field kModelFields[] = {
    {1, "ir_version", Int64, kOne},
    {8, "opset_import", Message, kMany, &kOperatorSetIdProto},
    {2, "producer_name", String, kOne},
    {3, "producer_version", String, kOne},
    {4, "domain", String, kOne},
    {5, "model_version", Int64, kOne},
    {6, "doc_string", String, kOne},
    {7, "graph", Message, kOne, &kGraphProto},
    {14, "metadata_props", Message, kMany, &kStringStringEntryProto},
    {20, "training_info", Message, kMany, &kTrainingInfoProto},
    {25, "functions", Message, kMany, &kFunctionProto},
};

const Field kStringStringEntryFields[] = {
    {1, "key", String, kOne},
    {2, "value", String, kOne},
};

const Field kTensorAnnotationFields[] = {
    {1, "tensor_name", String, kOne},
    {2, "quant_parameter_tensor_names", Message, kMany, &kStringStringEntryProto},
};

const Field kGraphFields[] = {
    {1, "node", Message, kMany, &kNodeProto},
    {2, "name", String, kOne},
    {5, "initializer", Message, kMany, &kTensorProto},
    {15, "sparse_initializer", Message, kMany, &kSparseTensorProto},
    {10, "doc_string", String, kOne},
    {11, "input", Message, kMany, &kValueInfoProto},
    {12, "output", Message, kMany, &kValueInfoProto},
    {13, "value_info", Message, kMany, &kValueInfoProto},
    {14, "quantization_annotation", Message, kMany, &kTensorAnnotation},
};

const Field kTensorFields[] = {
    {1, "dims", Int64, kMany},
    {2, "data_type", Int32, kOne},
    {3, "segment", Message, kOne, &kTensorSegment},
    {4, "float_data", Float, kMany},
    {5, "int32_data", Int32, kMany},
    {6, "string_data", Bytes, kMany},
    {7, "int64_data", Int64, kMany},
    {8, "name", String, kOne},
    {12, "doc_string", String, kOne},
    {9, "raw_data", Bytes, kOne},
    {13, "external_data", Message, kMany, &kStringStringEntryProto},
    {14, "data_location", Enum, kOne},
    {10, "double_data", Double, kMany},
    {11, "uint64_data", Uint64, kMany},
};

const Field kTensorSegmentFields[] = {
    {1, "begin", Int64, kOne},
    {2, "end", Int64, kOne},
};

const Field kSparseTensorFields[] = {
    {1, "values", Message, kOne, &kTensorProto},
    {2, "indices", Message, kOne, &kTensorProto},
    {3, "dims", Int64, kMany},
};

const Field kTensorShapeFields[] = {
    {1, "dim", Message, kMany, &kTensorShapeDimension},
};

const Field kTensorShapeDimensionFields[] = {
    {1, "dim_value", Int64, kOne},
    {2, "dim_param", String, kOne},
    {3, "denotation", String, kOne},
};

const Field kTypeFields[] = {
    {1, "tensor_type", Message, kOne, &kTypeTensor},
    {4, "sequence_type", Message, kOne, &kTypeSequence},
    {5, "map_type", Message, kOne, &kTypeMap},
    {9, "optional_type", Message, kOne, &kTypeOptional},
    {8, "sparse_tensor_type", Message, kOne, &kTypeSparseTensor},
    {7, "opaque_type", Message, kOne, &kTypeOpaque},
    {6, "denotation", String, kOne},
};

const Field kTypeTensorFields[] = {
    {1, "elem_type", Int32, kOne},
    {2, "shape", Message, kOne, &kTensorShapeProto},
};

const Field kTypeSequenceFields[] = {
    {1, "elem_type", Message, kOne, &kTypeProto},
};

const Field kTypeMapFields[] = {
    {1, "key_type", Int32, kOne},
    {2, "value_type", Message, kOne, &kTypeProto},
};

const Field kTypeOptionalFields[] = {
    {1, "elem_type", Message, kOne, &kTypeProto},
};

const Field kTypeSparseTensorFields[] = {
    {1, "elem_type", Int32, kOne},
    {2, "shape", Message, kOne, &kTensorShapeProto},
};

const Field kTypeOpaqueFields[] = {
    {1, "domain", String, kOne},
    {2, "name", String, kOne},
};

const Field kOperatorSetIdFields[] = {
    {1, "domain", String, kOne},
    {2, "version", Int64, kOne},
};

const Field kFunctionFields[] = {
    {1, "name", String, kOne},
    {4, "input", String, kMany},
    {5, "output", String, kMany},
    {6, "attribute", String, kMany},
    {7, "node", Message, kMany, &kNodeProto},
    {8, "doc_string", String, kOne},
    {9, "opset_import", Message, kMany, &kOperatorSetIdProto},
    {10, "domain", String, kOne},
};

}  // namespace

const MessageType kAttributeProto{"AttributeProto", kAttributeFields};
const MessageType kValueInfoProto{"ValueInfoProto", kValueInfoFields};
const MessageType kNodeProto{"NodeProto", kNodeFields};
const MessageType kTrainingInfoProto{"TrainingInfoProto", kTrainingInfoFields};
const MessageType kModelProto{"ModelProto", kModelFields};
const MessageType kStringStringEntryProto{"StringStringEntryProto", kStringStringEntryFields};
const MessageType kTensorAnnotation{"TensorAnnotation", kTensorAnnotationFields};
const MessageType kGraphProto{"GraphProto", kGraphFields};
const MessageType kTensorProto{"TensorProto", kTensorFields};
const MessageType kTensorSegment{"TensorProto.Segment", kTensorSegmentFields};
const MessageType kSparseTensorProto{"SparseTensorProto", kSparseTensorFields};
const MessageType kTensorShapeProto{"TensorShapeProto", kTensorShapeFields};
const MessageType kTensorShapeDimension{"TensorShapeProto.Dimension", kTensorShapeDimensionFields};
const MessageType kTypeProto{"TypeProto", kTypeFields};
const MessageType kTypeTensor{"TypeProto.Tensor", kTypeTensorFields};
const MessageType kTypeSequence{"TypeProto.Sequence", kTypeSequenceFields};
const MessageType kTypeMap{"TypeProto.Map", kTypeMapFields};
const MessageType kTypeOptional{"TypeProto.Optional", kTypeOptionalFields};
const MessageType kTypeSparseTensor{"TypeProto.SparseTensor", kTypeSparseTensorFields};
const MessageType kTypeOpaque{"TypeProto.Opaque", kTypeOpaqueFields};
const MessageType kOperatorSetIdProto{"OperatorSetIdProto", kOperatorSetIdFields};
const MessageType kFunctionProto{"FunctionProto", kFunctionFields};

}  // namespace bc::onnx_schema
