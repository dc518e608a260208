"""Writes a self-contained folder of this interpreter's C headers for a zig
target and prints it. Debian's pyconfig.h only includes the real one from a
multiarch folder that zig does not search, so the real one is copied in its
place. For another architecture (aarch64 on an x86-64 host) the host's is
taken with its x86-only assembler macros removed: the extension uses only the
limited API, whose headers depend on the type sizes, and those are the same on
both 64-bit little-endian Linux ABIs. A compile for the target checks every
size the file states before the folder is used.

    python release/python_headers.py TARGET CXX DEST
"""

import os
import re
import shutil
import subprocess
import sys
import sysconfig

X86_ONLY = ("HAVE_GCC_ASM_FOR_X64", "HAVE_GCC_ASM_FOR_X87")
SIZES = {
    "SIZEOF_INT": "int", "SIZEOF_LONG": "long", "SIZEOF_LONG_LONG": "long long",
    "SIZEOF_SHORT": "short", "SIZEOF_SIZE_T": "size_t", "SIZEOF_VOID_P": "void*",
    "SIZEOF_WCHAR_T": "wchar_t", "SIZEOF_DOUBLE": "double", "SIZEOF_FLOAT": "float",
    "SIZEOF_LONG_DOUBLE": "long double", "SIZEOF_TIME_T": "time_t", "SIZEOF_OFF_T": "off_t",
    "SIZEOF_PID_T": "pid_t", "SIZEOF_PTHREAD_T": "pthread_t", "SIZEOF_UINTPTR_T": "uintptr_t",
    "ALIGNOF_LONG": "alignof(long)", "ALIGNOF_SIZE_T": "alignof(size_t)",
    "ALIGNOF_MAX_ALIGN_T": "alignof(max_align_t)",
}
CHECK_PROLOGUE = """#include <pyconfig.h>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <pthread.h>
#include <sys/types.h>
using std::size_t; using std::uintptr_t; using std::max_align_t; using std::time_t;
#if defined(WORDS_BIGENDIAN) || !defined(DOUBLE_IS_LITTLE_ENDIAN_IEEE754)
#error "pyconfig.h describes a big-endian machine"
#endif
"""


def real_pyconfig(include: str) -> str:
    """The host's pyconfig.h itself, not Debian's multiarch dispatcher."""
    multiarch = sysconfig.get_config_var("MULTIARCH") or ""
    version = os.path.basename(include)
    candidate = os.path.join("/usr/include", multiarch, version, "pyconfig.h")
    if multiarch and os.path.isfile(candidate):
        return candidate
    return os.path.join(include, "pyconfig.h")


def for_target(text: str, arch: str) -> str:
    if arch == "x86_64":
        return text
    for macro in X86_ONLY:
        text = re.sub(rf"^#define {macro} 1$", f"/* #undef {macro} */", text, flags=re.M)
    return text


def check_sizes(cxx: str, folder: str, text: str) -> None:
    lines = [CHECK_PROLOGUE]
    for macro, ctype in SIZES.items():
        if re.search(rf"^#define {macro} ", text, flags=re.M):
            size = ctype if ctype.startswith("alignof") else f"sizeof({ctype})"
            lines.append(f'static_assert({size} == {macro}, "{macro}");')
    source = os.path.join(folder, "pyconfig_check.cpp")
    with open(source, "w") as out:
        out.write("\n".join(lines) + "\n")
    subprocess.run([cxx, "-std=c++17", "-c", "-I", folder, "-o", source + ".o", source], check=True, timeout=600)
    os.remove(source)
    os.remove(source + ".o")


def main() -> int:
    target, cxx, dest = sys.argv[1:4]
    include = sysconfig.get_paths()["include"]
    folder = os.path.join(dest, os.path.basename(include))
    shutil.rmtree(dest, ignore_errors=True)
    shutil.copytree(include, folder, symlinks=False)
    with open(real_pyconfig(include)) as source:
        text = for_target(source.read(), target.split("-")[0])
    with open(os.path.join(folder, "pyconfig.h"), "w") as out:
        out.write(text)
    check_sizes(cxx, folder, text)
    print(folder)
    return 0


if __name__ == "__main__":
    sys.exit(main())
