"""What every release wheel must be, checked on the files themselves (the
aarch64 one included, which this machine cannot load): its name, its size, the
one extension and no shared library besides, built for its architecture,
exporting PyInit_orvik alone, asking nothing of the system beyond glibc 2.17's
own libraries (libc++ is linked in, so not even libstdc++ of the manylinux
policy), with no OpenSSL in it; its orvik-session a static executable of the same architecture; a
CycloneDX SBOM in .dist-info/sboms naming exactly the pinned sources of
third_party/pins (by Debian source, version and tarball checksum) and zig's
libc++ and musl, each with a version, a licence and its licence file in
.dist-info/licenses. Prints one line per wheel.

    python tests/wheel/check_release_wheels.py WHEEL...
"""

from __future__ import annotations

import io
import json
import os
import re
import sys
import zipfile
from typing import Dict, List

from elftools.elf.elffile import ELFFile
from elftools.elf.gnuversions import GNUVerNeedSection

NAME = re.compile(r"orvik-[0-9.]+-cp39-abi3-manylinux_2_17_(?P<arch>x86_64|aarch64)\.manylinux2014_(?P=arch)\.whl")
MACHINES = {"x86_64": "EM_X86_64", "aarch64": "EM_AARCH64"}
MAX_BYTES = 5 * 1024 * 1024
MAX_GLIBC = (2, 17)
GLIBC_LIBRARIES = {
    "libc.so.6", "libm.so.6", "libdl.so.2", "librt.so.1", "libpthread.so.0",
    "ld-linux-x86-64.so.2", "ld-linux-aarch64.so.1",
}
PINS = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), "third_party", "pins")
# Linked in from zig rather than from a pin.
ZIG_COMPONENTS = {"libc++", "musl"}
SBOM = "sboms/orvik.cdx.json"
OPENSSL_MARK = b"OpenSSL internal error"


def pinned() -> Dict[str, str]:
    """'SOURCE DEBIAN-VERSION' -> 'TARBALL SHA256' for every pin."""
    with open(PINS, encoding="utf-8") as pins:
        rows = [line.split() for line in pins if line.strip() and not line.startswith("#")]
    return {f"{row[0]} {row[1]}": f"{row[2]} {row[3]}" for row in rows}


def sbom_problems(bom: dict, files: List[str]) -> List[str]:
    """The SBOM against the pins, and each component's licence file among FILES."""
    if (bom.get("bomFormat"), bom.get("specVersion")) != ("CycloneDX", "1.6"):
        return [f"{SBOM} is not a CycloneDX 1.6 document"]
    problems = []
    named: Dict[str, str] = {}
    others = set()
    for component in bom.get("components", []):
        name = component.get("name", "?")
        if not component.get("version") or not component.get("licenses"):
            problems.append(f"SBOM component {name} lacks a version or a licence")
        if not any(f.startswith(f"licenses/{name}/") for f in files):
            problems.append(f"lacks licenses/{name}/")
        source = [p["value"] for p in component.get("properties", []) if p.get("name") == "debian:source"]
        if not source:
            others.add(name)
            continue
        reference = next(iter(component.get("externalReferences", [])), {})
        digest = next(iter(reference.get("hashes", [])), {}).get("content", "")
        named[source[0]] = f"{reference.get('url', '').rsplit('/', 1)[-1]} {digest}"
    pins = pinned()
    problems += [f"SBOM names {source} {named[source]}, not as pinned" for source in sorted(named) if named[source] != pins.get(source)]
    problems += [f"SBOM lacks the pinned {source}" for source in sorted(set(pins) - set(named))]
    if others != ZIG_COMPONENTS:
        problems.append(f"SBOM names {sorted(others)} beside the pins, not {sorted(ZIG_COMPONENTS)}")
    return problems


def session_problems(elf: ELFFile, arch: str) -> List[str]:
    """orvik-session: one static executable of the wheel's architecture."""
    problems = []
    if elf["e_machine"] != MACHINES[arch]:
        problems.append(f"orvik-session built for {elf['e_machine']}, not {arch}")
    dynamic = elf.get_section_by_name(".dynamic")
    needed = [tag.needed for tag in dynamic.iter_tags() if tag.entry.d_tag == "DT_NEEDED"] if dynamic else []
    if needed or any(segment["p_type"] == "PT_INTERP" for segment in elf.iter_segments()):
        problems.append(f"orvik-session is not static: it names a loader or needs {needed}")
    return problems


def elf_problems(elf: ELFFile, arch: str) -> List[str]:
    problems = []
    if elf["e_machine"] != MACHINES[arch]:
        problems.append(f"built for {elf['e_machine']}, not {arch}")
    dynsym = elf.get_section_by_name(".dynsym")
    exported = sorted(s.name for s in dynsym.iter_symbols() if s.name and s["st_shndx"] != "SHN_UNDEF")
    if exported != ["PyInit_orvik"]:
        problems.append(f"exports {exported[:8]}{' ...' if len(exported) > 8 else ''}, not PyInit_orvik alone")
    dynamic = elf.get_section_by_name(".dynamic")
    needed = {tag.needed for tag in dynamic.iter_tags() if tag.entry.d_tag == "DT_NEEDED"}
    if needed - GLIBC_LIBRARIES:
        problems.append(f"needs {sorted(needed - GLIBC_LIBRARIES)} beyond glibc's own")
    for section in elf.iter_sections():
        if not isinstance(section, GNUVerNeedSection):
            continue
        for _, versions in section.iter_versions():
            for version in versions:
                name = version.name
                if name.startswith("GLIBC_") and tuple(map(int, name[6:].split("."))) > MAX_GLIBC:
                    problems.append(f"needs {name}")
    return problems


def wheel_problems(path: str) -> List[str]:
    matched = NAME.fullmatch(os.path.basename(path))
    if not matched:
        return [f"{os.path.basename(path)} is not a manylinux_2_17 release wheel's name"]
    problems = []
    if os.path.getsize(path) >= MAX_BYTES:
        problems.append(f"{os.path.getsize(path)} bytes, not under {MAX_BYTES}")
    with zipfile.ZipFile(path) as wheel:
        names = wheel.namelist()
        libraries = [n for n in names if re.search(r"\.so(\.|$)", n)]
        if libraries != ["orvik.abi3.so"]:
            return problems + [f"shared libraries {libraries}, not orvik.abi3.so alone"]
        dist_info = next(n.split("/")[0] for n in names if n.split("/")[0].endswith(".dist-info"))
        metadata = [n[len(dist_info) + 1:] for n in names if n.startswith(dist_info + "/")]
        if SBOM not in metadata:
            problems.append(f"lacks {SBOM}")
        else:
            problems += sbom_problems(json.loads(wheel.read(f"{dist_info}/{SBOM}")), metadata)
        sessions = [n for n in names if n.endswith(".data/scripts/orvik-session")]
        if len(sessions) != 1:
            problems.append(f"carries {sessions}, not one orvik-session")
        else:
            problems += session_problems(ELFFile(io.BytesIO(wheel.read(sessions[0]))), matched["arch"])
        extension = wheel.read(libraries[0])
        problems += elf_problems(ELFFile(io.BytesIO(extension)), matched["arch"])
        # TLS lives in orvik-session alone: libcrypto's own error text marks it.
        if OPENSSL_MARK in extension:
            problems.append("orvik.abi3.so carries OpenSSL")
    return problems


def main() -> int:
    failed = 0
    for path in sys.argv[1:]:
        problems = wheel_problems(path)
        failed += bool(problems)
        print(f"{os.path.basename(path)}: {'FAILED' if problems else 'passed'}")
        for problem in problems:
            print(f"    {problem}")
    print(f"release wheels: {len(sys.argv) - 1 - failed} passed, {failed} failed")
    return 1 if failed or len(sys.argv) < 2 else 0


if __name__ == "__main__":
    sys.exit(main())
