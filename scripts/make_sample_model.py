"""Writes the sample model shipped with the package: the header and metadata
of a 1B-class llama model (the shape of Llama 3.2 1B), without tensor data.

Usage: python3 scripts/make_sample_model.py [output]
"""

import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import gguf_writer as g  # noqa: E402

DEFAULT = pathlib.Path(__file__).resolve().parent.parent / "python/brindlecove/data/sample-1b.gguf"


def sample_kvs():
    kvs = [
        ("general.architecture", g.STRING, "llama"),
        ("general.type", g.STRING, "model"),
        ("general.name", g.STRING, "Sample Llama 1B"),
        ("general.size_label", g.STRING, "1B"),
        ("general.file_type", g.UINT32, 1),
        ("general.quantization_version", g.UINT32, 2),
        ("general.parameter_count", g.UINT64, 1_235_814_400),
        ("llama.block_count", g.UINT32, 16),
        ("llama.context_length", g.UINT32, 131072),
        ("llama.embedding_length", g.UINT32, 2048),
        ("llama.feed_forward_length", g.UINT32, 8192),
        ("llama.attention.head_count", g.UINT32, 32),
        ("llama.attention.head_count_kv", g.UINT32, 8),
        ("llama.rope.freq_base", g.FLOAT32, 500000.0),
        ("llama.attention.layer_norm_rms_epsilon", g.FLOAT32, 1e-5),
        ("llama.attention.key_length", g.UINT32, 64),
        ("llama.attention.value_length", g.UINT32, 64),
        ("llama.vocab_size", g.UINT32, 128256),
        ("llama.rope.dimension_count", g.UINT32, 64),
        ("tokenizer.ggml.model", g.STRING, "gpt2"),
        ("tokenizer.ggml.pre", g.STRING, "llama-bpe"),
        # A stand-in vocabulary: enough to exercise skipping, small enough to ship.
        ("tokenizer.ggml.tokens", g.ARRAY, (g.STRING, [f"tok{i}" for i in range(256)])),
        ("tokenizer.ggml.token_type", g.ARRAY, (g.INT32, [1] * 256)),
        ("tokenizer.ggml.bos_token_id", g.UINT32, 128000),
        ("tokenizer.ggml.eos_token_id", g.UINT32, 128009),
    ]
    return kvs


def main():
    out = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else DEFAULT
    out.parent.mkdir(parents=True, exist_ok=True)
    g.write(out, sample_kvs())
    print(f"wrote {out} ({out.stat().st_size} bytes)")


if __name__ == "__main__":
    main()
