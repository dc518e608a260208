"""What every release wheel must be, checked on the files themselves (the
aarch64 one included, which this machine cannot load): its name, its size, the
one extension and no shared library besides, built for its architecture,
exporting PyInit_orvik alone, asking nothing of the system beyond glibc 2.17's
own libraries (libc++ is linked in, so not even libstdc++ of the manylinux
policy), and carrying the licences of what it links in statically. Prints one
line per wheel.

    python tests/wheel/check_release_wheels.py WHEEL...
"""

from __future__ import annotations

import io
import os
import re
import sys
import zipfile
from typing import List

from elftools.elf.elffile import ELFFile
from elftools.elf.gnuversions import GNUVerNeedSection

NAME = re.compile(r"orvik-[0-9.]+-cp39-abi3-manylinux_2_17_(?P<arch>x86_64|aarch64)\.manylinux2014_(?P=arch)\.whl")
MACHINES = {"x86_64": "EM_X86_64", "aarch64": "EM_AARCH64"}
MAX_BYTES = 3 * 1024 * 1024
MAX_GLIBC = (2, 17)
GLIBC_LIBRARIES = {
    "libc.so.6", "libm.so.6", "libdl.so.2", "librt.so.1", "libpthread.so.0",
    "ld-linux-x86-64.so.2", "ld-linux-aarch64.so.1",
}
LICENSES = ["licenses/capnproto/LICENSE.txt", "licenses/utf8proc/LICENSE.md"]


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
        problems += [f"lacks {license}" for license in LICENSES if f"{dist_info}/{license}" not in names]
        problems += elf_problems(ELFFile(io.BytesIO(wheel.read(libraries[0]))), matched["arch"])
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
