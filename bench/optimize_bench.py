"""Times one whole optimize() call on a cache miss, on this machine, with no
inference or vendor tool installed: hardware probing, model inspection,
planning and the (failing) re-quantization attempt. Target: under 20 ms."""

import contextlib
import importlib.resources
import os
import statistics
import sys
import tempfile
import time

import brindlecove as bc


@contextlib.contextmanager
def quiet_fd2():
    saved = os.dup(2)
    with open(os.devnull, "w") as null:
        os.dup2(null.fileno(), 2)
        try:
            yield
        finally:
            os.dup2(saved, 2)
            os.close(saved)


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 50
    sample = str(importlib.resources.files("brindlecove") / "data" / "sample-1b.gguf")
    with tempfile.TemporaryDirectory() as tmp:
        os.environ["HOME"] = tmp
        os.environ["PATH"] = "/usr/bin:/bin"  # no llama-*, ollama or *-smi here
        times = []
        with quiet_fd2():
            for _ in range(runs):
                start = time.perf_counter()
                bc.optimize(sample, "gguf", output_path=os.path.join(tmp, "out.gguf"), use_cache=False)
                times.append((time.perf_counter() - start) * 1000)
    print(f"optimize() cache miss, whole call: median {statistics.median(times):.2f} ms, "
          f"min {min(times):.2f} ms, max {max(times):.2f} ms over {runs} runs (target < 20 ms)")


if __name__ == "__main__":
    main()
