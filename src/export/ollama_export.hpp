#pragma once
// An Ollama bundle from an optimization result: model.gguf, a Modelfile with
// the chosen thread and GPU layer counts, and metadata.json with the result.

#include <filesystem>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/records.hpp"

namespace bc {

struct ExportManifest {
  std::filesystem::path output_dir;  // as given
  std::filesystem::path modelfile_path;
  std::filesystem::path model_gguf_path;
  // "ollama create mymodel -f <Modelfile path>", "ollama run mymodel".
  std::vector<std::string> ollama_commands;
  bool operator==(const ExportManifest&) const = default;
};

// The five lines of the Modelfile, each ended by a line feed.
std::string modelfile_text(const RuntimeConfig& config);

// Writes the bundle into `output_dir` (created with its missing parents)
// from `model_path`, the model file the result was computed for. A model
// whose extension is "onnx" is converted with llama.cpp's
// convert_hf_to_gguf.py first. Files written before a failing step stay.
[[nodiscard]] Expected<ExportManifest> export_ollama_bundle(
    const OptimizationResult& result, const std::string& model_path,
    const std::filesystem::path& output_dir);

// The manifest as compact JSON, keys in ascending order, paths with invalid
// UTF-8 replaced by U+FFFD. The error message carries its own context.
[[nodiscard]] Expected<std::string> manifest_json_text(const ExportManifest& manifest);

}  // namespace bc
