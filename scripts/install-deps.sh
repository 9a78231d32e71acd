#!/bin/bash
# Installs what the project needs on Debian 12, as root. Safe to run again: when everything
# is there it only checks, in a second or two.
set -euo pipefail

PACKAGES=(
    cmake g++ make python3
    clang libclang-rt-14-dev clang-format libgtest-dev
    g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
    wine wine64 wine32:i386
    xvfb x11-utils imagemagick
    xorriso fuseiso genisoimage
    osslsigncode openssl
)

if [ "$(id -u)" != 0 ]; then
    echo "install-deps.sh: run as root" >&2
    exit 1
fi

# wine32 (which runs the 32-bit programs where the kernel allows it) comes from i386.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    NEED_UPDATE=1
fi

missing=()
for package in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q '^install ok installed'; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -gt 0 ] || [ -n "${NEED_UPDATE:-}" ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    if [ ${#missing[@]} -gt 0 ]; then
        echo "install-deps.sh: installing ${missing[*]}"
        apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    fi
fi

# libFuzzer comes with clang's runtime; check that it links.
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' \
    >"$probe/f.cpp"
if ! clang++ -fsanitize=fuzzer "$probe/f.cpp" -o "$probe/f" 2>"$probe/log"; then
    cat "$probe/log" >&2
    echo "install-deps.sh: clang++ -fsanitize=fuzzer does not link" >&2
    exit 1
fi
echo "install-deps.sh: all dependencies present"
