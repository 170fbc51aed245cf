"""Command line entry: `python3 -m brindlecove [MODEL] [options]`.

Without a model it optimizes the sample model shipped with the package (the
header of a 1B-class llama model), which shows what the tool would choose on
this machine.
"""

import argparse
import importlib.resources
import json
import sys

from brindlecove._brindlecove import optimize, profile_hardware


def sample_model_path():
    return str(importlib.resources.files("brindlecove") / "data" / "sample-1b.gguf")


def parse_args(argv):
    parser = argparse.ArgumentParser(prog="brindlecove", description="Choose how best to run a local LLM on this machine.")
    parser.add_argument("model", nargs="?", help="a .gguf or .onnx model file (default: the bundled sample)")
    parser.add_argument("--format", help="gguf or onnx (default: from the file extension)")
    parser.add_argument("--gpu", help='plan for a named GPU such as "4090" or "a100", or "cpu"')
    parser.add_argument("--latency", type=float, metavar="MS", help="latency limit in milliseconds")
    parser.add_argument("--output", help="where the re-quantized model goes")
    parser.add_argument("--no-cache", action="store_true", help="neither read nor write the result cache")
    return parser.parse_args(argv)


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    model = args.model or sample_model_path()
    output = args.output
    if args.model is None and output is None:
        # Never write beside the installed package's own data.
        output = "sample-1b-optimized.gguf"
    fmt = args.format or ("onnx" if model.lower().endswith(".onnx") else "gguf")

    hardware = profile_hardware()
    print(f"Hardware: {hardware!r}")
    print(f"  {hardware.to_json()}")
    print(f"Model:    {model} ({fmt})")
    sys.stdout.flush()
    try:
        result = optimize(model, fmt, gpu=args.gpu, max_latency_ms=args.latency,
                          output_path=output, use_cache=not args.no_cache)
    except RuntimeError as error:
        print(f"No configuration chosen: {error}", file=sys.stderr)
        return 1
    config = json.loads(result.to_json())["config"]
    print(f"Chosen:   {result!r}")
    print(f"  runtime={result.runtime} quantization={result.quantization} threads={result.threads} "
          f"batch_size={config['batch_size']} gpu_layers={result.gpu_layers}")
    print(f"  {result.tokens_per_sec:.1f} tok/s, {result.latency_ms:.1f} ms/token, peak {result.peak_memory_mb} MB")
    print(f"Output:   {result.output_path or 'not written (llama-quantize unavailable or failed)'}")
    print(f"  {result.to_json()}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
