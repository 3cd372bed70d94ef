#!/usr/bin/env python3
"""Checks the include rule between the source folders.

Every folder has a layer; a file may include headers of its own folder and of
folders in lower layers, never of a higher one. Faces (the automation class,
the HTTP server, the widgets) reach the core only through its interface
headers. Tests and benchmarks are not checked: they may reach into what they
test. The README's layout section states the same rule in words.

  check-layers.py <source root>     exit status 1 and one line per breach
"""
import os
import re
import sys

# Lowest first. A folder not listed here is not checked.
LAYERS = [
    ["platform/colour", "platform/clock", "platform/format", "platform/process"],
    ["platform/automation", "monitor/settings", "monitor/controls"],
    ["monitor/sensor", "monitor/station", "monitor/conditions", "sensorserve"],
    ["monitor/outputs"],
    ["monitor/core"],
    ["monitor/automation", "monitor/http", "monitor/conditions/ui", "monitor/outputs/ui", "monitor/update",
     "monitor/update/ui"],
    ["monitor/app", "sensorsim", "sensorindi", "uploader", "updater", "reset", "tools"],
]

# Includes across a layer, or upwards, that are part of the design.
ALLOWED = {
    ("monitor/outputs/ui", "monitor/conditions/ui"),  # the graph colours use the level colour dialog
    ("monitor/update/ui", "monitor/update"),
    ("monitor/update", "updater"),                    # the hand-over file and the fetch are the updater's
}

# What a face may include of the core: its interface, not its implementation.
CORE_INTERFACE = {"MonitorApi.h", "MainState.h", "MonitorConfig.h"}
FACES = set(LAYERS[5])


def folder_of(path, folders):
    for f in folders:
        if path == f or path.startswith(f + "/"):
            return f
    return None


def main(root):
    folders = sorted({f for layer in LAYERS for f in layer}, key=len, reverse=True)
    rank = {f: i for i, layer in enumerate(LAYERS) for f in layer}
    headers = {}
    sources = []
    for top in {f.split("/")[0] if not f.startswith("monitor/") else "/".join(f.split("/")[:2]) for f in folders}:
        for d, dirs, files in os.walk(os.path.join(root, top)):
            rel_dir = os.path.relpath(d, root)
            for name in files:
                rel = os.path.join(rel_dir, name)
                if folder_of(rel, folders) is None:
                    continue
                if name.endswith(".h"):
                    headers.setdefault(name, []).append(rel)
                if name.endswith((".h", ".cpp")):
                    sources.append(rel)
    breaches = []
    for rel in sorted(sources):
        if "/tests/" in rel or rel.endswith("_test.cpp") or "/fuzz/" in rel:
            continue
        own = folder_of(rel, folders)
        with open(os.path.join(root, rel), encoding="utf-8", errors="replace") as fh:
            text = fh.read()
        for m in re.finditer(r'^\s*#\s*include\s+"([^"]+)"', text, re.M):
            name = os.path.basename(m.group(1))
            found = headers.get(name)
            if not found:
                continue
            owners = {folder_of(h, folders) for h in found}
            if own in owners:
                continue
            target = sorted(owners)[0]
            line = text.count("\n", 0, m.start()) + 1
            if (own, target) in ALLOWED:
                continue
            if rank[target] >= rank[own]:
                breaches.append(f"{rel}:{line}: includes {name} of {target}, which is not below {own}")
            elif target == "monitor/core" and own in FACES and name not in CORE_INTERFACE:
                breaches.append(f"{rel}:{line}: a face includes {name}; faces use the core's interface "
                                f"({', '.join(sorted(CORE_INTERFACE))})")
    for b in breaches:
        print(b)
    if breaches:
        print(f"{len(breaches)} include(s) break the layering")
        return 1
    print(f"{len(sources)} files keep to the layering")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")))
