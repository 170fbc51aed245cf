"""profile_hardware() seen from Python, with fake vendor tools on PATH."""

import json
import os
import subprocess
import sys


def test_nvidia_gpu_is_reported(fake_tools):
    fake_tools.add("nvidia-smi", 'echo "NVIDIA GeForce RTX 4090, 24564, 8.9"\necho "NVIDIA GeForce RTX 3060, 12288, 8.6"\n')
    from brindlecove import profile_hardware

    p = profile_hardware()
    assert p.gpu_model == "NVIDIA GeForce RTX 4090"
    assert p.gpu_vram_mb == 24564
    assert repr(p) == f"HardwareProfile(cpu_cores={p.cpu_cores}, gpu=NVIDIA GeForce RTX 4090)"
    gpu = json.loads(p.to_json())["gpu"]
    assert gpu == {"name": "NVIDIA GeForce RTX 4090", "vram_mb": 24564, "compute_capability": [8, 9], "vendor": "Nvidia"}


def test_amd_fallback_and_garbage(fake_tools):
    fake_tools.add("nvidia-smi", "echo 'garbage'; exit 9\n")
    fake_tools.add("rocm-smi", 'printf "device,Card series,Card model,VRAM Total Memory (B)\\ncard0,Radeon RX 7900 XTX,0x744c,25753026560\\n"\n')
    from brindlecove import profile_hardware

    gpu = json.loads(profile_hardware().to_json())["gpu"]
    assert gpu == {"name": "Radeon RX 7900 XTX", "vram_mb": 24560, "compute_capability": None, "vendor": "Amd"}


def test_detection_prints_nothing(fake_tools, tmp_path):
    fake_tools.add("nvidia-smi", "echo noise >&2; echo '[N/A], [N/A], [N/A]'\n")
    code = "from brindlecove import profile_hardware as p; p(); p()"
    proc = subprocess.run([sys.executable, "-c", code], capture_output=True, env=dict(os.environ), cwd=tmp_path)
    assert proc.returncode == 0
    assert proc.stdout == b"" and proc.stderr == b""
