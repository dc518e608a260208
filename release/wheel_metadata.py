"""Writes what a release wheel's .dist-info carries about the code linked into
its binaries (the extension and the static orvik-session): under OUT,
licenses/NAME/FILE for each component and sboms/orvik.cdx.json, a CycloneDX
SBOM (PEP 770) naming each with its version and licence, so that a scanner
finds the bundled OpenSSL. The pinned components and their sources come from
third_party/pins (third_party/fetch.sh unpacks each); zig's libc++ and musl
from the zig that builds the wheel.

    python release/wheel_metadata.py ZIG_LIB_DIR OUT
"""

from __future__ import annotations

import json
import os
import re
import shutil
import subprocess
import sys
import uuid
from typing import Dict, List, NamedTuple

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class Upstream(NamedTuple):
    name: str  # the upstream project's own name, as scanners know it
    license: str  # SPDX expression
    license_file: str  # in its source tree
    cpe_vendor: str = ""  # where the NVD names it


# Every pin is linked into a binary of the wheel; a new pin needs a row here.
PINNED = {
    "capnproto": Upstream("capnproto", "MIT", "LICENSE.txt", "capnproto"),
    "utf8proc": Upstream("utf8proc", "MIT AND Unicode-DFS-2016", "LICENSE.md"),
    "nlohmann-json3": Upstream("nlohmann-json", "MIT", "LICENSE.MIT"),
    "openssl": Upstream("openssl", "Apache-2.0", "LICENSE.txt", "openssl"),
    "ncurses": Upstream("ncurses", "X11", "COPYING", "gnu"),
    "libedit": Upstream("libedit", "BSD-3-Clause", "COPYING"),
}


class Pin(NamedTuple):
    source: str  # the Debian source package
    debian_version: str
    tarball: str
    sha256: str

    @property
    def version(self) -> str:
        """The upstream version, as the tarball's name gives it: NAME_VERSION.orig.tar.*"""
        return re.fullmatch(r"[^_]+_(.+)\.orig\.tar\.\w+", self.tarball).group(1)

    @property
    def url(self) -> str:
        pool = self.source[:4] if self.source.startswith("lib") else self.source[0]
        return f"http://deb.debian.org/debian/pool/main/{pool}/{self.source}/{self.tarball}"


def read_pins(path: str = os.path.join(ROOT, "third_party", "pins")) -> List[Pin]:
    with open(path, encoding="utf-8") as pins:
        return [Pin(*line.split()) for line in pins if line.strip() and not line.startswith("#")]


def component(name: str, version: str, license: str, cpe_vendor: str = "") -> Dict[str, object]:
    entry: Dict[str, object] = {
        "type": "library",
        "bom-ref": name,
        "name": name,
        "version": version,
        "licenses": [{"expression": license} if " " in license else {"license": {"id": license}}],
        "purl": f"pkg:generic/{name}@{version}",
    }
    if cpe_vendor:
        entry["cpe"] = f"cpe:2.3:a:{cpe_vendor}:{name}:{version}:*:*:*:*:*:*:*"
    return entry


def zig_components(zig_lib: str) -> List[tuple]:
    """(component, licence file) of zig's libc++ and musl."""
    with open(os.path.join(zig_lib, "libcxx", "include", "__config"), encoding="utf-8") as config:
        encoded = int(re.search(r"#\s*define _LIBCPP_VERSION (\d+)", config.read()).group(1))
    libcxx = f"{encoded // 10000}.{encoded // 100 % 100}.{encoded % 100}"
    with open(os.path.join(zig_lib, "libc", "musl", "src", "internal", "version.h"), encoding="utf-8") as header:
        musl = re.search(r'#define VERSION "([^"]+)"', header.read()).group(1)
    return [
        (component("libc++", libcxx, "Apache-2.0 WITH LLVM-exception"), os.path.join(zig_lib, "libcxx", "LICENSE.TXT")),
        (component("musl", musl, "MIT", "musl-libc"), os.path.join(zig_lib, "libc", "musl", "COPYRIGHT")),
    ]


def main() -> int:
    zig_lib, out = sys.argv[1:3]
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as cmake:
        version = re.search(r"project\(orvik VERSION ([0-9.]+)", cmake.read()).group(1)
    parts = []
    for pin in read_pins():
        upstream = PINNED[pin.source]
        entry = component(upstream.name, pin.version, upstream.license, upstream.cpe_vendor)
        # The upstream tarball as Debian's archive serves it, unpatched.
        entry["externalReferences"] = [
            {"type": "source-distribution", "url": pin.url, "hashes": [{"alg": "SHA-256", "content": pin.sha256}]}
        ]
        entry["properties"] = [{"name": "debian:source", "value": f"{pin.source} {pin.debian_version}"}]
        tree = subprocess.run(
            [os.path.join(ROOT, "third_party", "fetch.sh"), pin.source], check=True, stdout=subprocess.PIPE, text=True
        ).stdout.strip()
        parts.append((entry, os.path.join(tree, upstream.license_file)))
    parts += zig_components(zig_lib)

    for entry, license_file in parts:
        folder = os.path.join(out, "licenses", str(entry["name"]))
        os.makedirs(folder, exist_ok=True)
        shutil.copyfile(license_file, os.path.join(folder, os.path.basename(license_file)))
    components = [entry for entry, _ in parts]
    bom = {
        "bomFormat": "CycloneDX",
        "specVersion": "1.6",
        "version": 1,
        "metadata": {"component": {"type": "application", "bom-ref": "orvik", "name": "orvik", "version": version}},
        "components": components,
        "dependencies": [{"ref": "orvik", "dependsOn": [entry["bom-ref"] for entry in components]}],
    }
    # The same components give the same document, serial number included.
    bom["serialNumber"] = uuid.uuid5(uuid.NAMESPACE_URL, json.dumps(bom, sort_keys=True)).urn
    os.makedirs(os.path.join(out, "sboms"), exist_ok=True)
    with open(os.path.join(out, "sboms", "orvik.cdx.json"), "w", encoding="utf-8") as sbom:
        json.dump(bom, sbom, indent=2)
        sbom.write("\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
