#!/usr/bin/env bash
# The notices of one unpacked release folder against what its programs link:
# LICENSE and THIRD-PARTY.md are there; every library a program links
# directly (ELF NEEDED entries; for Windows programs their imported DLLs),
# other than the C and C++ runtimes and the system's GL, is named for that
# program in THIRD-PARTY.md and has its Debian copyright file in
# licences/; a program linking x264 comes with the GPL's text. Windows
# programs must import system DLLs only (their libraries are static, whose
# notices are listed in STATIC below).
# usage: tests/release/check_notices.sh FOLDER   (prints FAIL lines, exit 1 on any)
set -u
folder=$1
failures=0
fail() { echo "FAIL [notices]: $*"; failures=$((failures + 1)); }

[ -f "$folder/LICENSE" ] || fail "no LICENSE"
[ -f "$folder/THIRD-PARTY.md" ] || fail "no THIRD-PARTY.md"
grep -q "MIT License" "$folder/LICENSE" 2>/dev/null || fail "LICENSE is not the MIT licence"

# Runtimes and the system's GL, which need no notice.
SYSTEM_ELF="libc.so.6 libm.so.6 libstdc++.so.6 libgcc_s.so.1 ld-linux-x86-64.so.2 libOpenGL.so.0 libGL.so.1 libEGL.so.1 libGLX.so.0"
SYSTEM_DLL="kernel32.dll user32.dll gdi32.dll opengl32.dll glu32.dll winmm.dll comctl32.dll msvcrt.dll advapi32.dll shell32.dll"
# The static libraries of the Windows programs, by the package whose
# copyright file must come with them.
STATIC_WIN="libxmp4 libjpeg62-turbo mingw-w64-x86-64-dev"
# The same for the page's WebAssembly files (Emscripten's runtime is in both).
STATIC_WEB="libxmp4 libjpeg62-turbo emscripten"

# A program's line in THIRD-PARTY.md names it and the library.
listed() { grep -F "\`$1\`" "$folder/THIRD-PARTY.md" | grep -qF "\`$2\`"; }

for bin in "$folder"/*; do
  [ -f "$bin" ] || continue
  b=$(basename "$bin")
  case $b in
    *.exe|*.dll)
      imports=$(objdump -p "$bin" | awk '/DLL Name:/ { print tolower($3) }')
      [ -n "$imports" ] || fail "$b: objdump shows no imports"
      for dll in $imports; do
        case " $SYSTEM_DLL " in *" $dll "*) ;; *) fail "$b imports $dll, which is no system DLL" ;; esac
      done
      for p in $STATIC_WIN; do [ -s "$folder/licences/$p.txt" ] || fail "$b: no licences/$p.txt"; done ;;
    *.wasm)
      head -c4 "$bin" | grep -q "asm" || fail "$b is no WebAssembly file"
      for p in $STATIC_WEB; do [ -s "$folder/licences/$p.txt" ] || fail "$b: no licences/$p.txt"; done
      listed "$b" "libjpeg-turbo" || listed "$b" "libxmp" || fail "THIRD-PARTY.md lists no library for $b" ;;
    *)
      head -c4 "$bin" | grep -q "ELF" || continue
      for lib in $(objdump -p "$bin" | awk '/NEEDED/ { print $2 }'); do
        case " $SYSTEM_ELF " in *" $lib "*) continue ;; esac
        path=$(ldd "$bin" | awk -v l="$lib" '$1 == l && $2 == "=>" { print $3 }')
        path=$(readlink -f "$path" 2>/dev/null)
        pkg=$( (dpkg -S "$path" 2>/dev/null || dpkg -S "${path#/usr}" 2>/dev/null) | head -1 | sed 's/:.*//')
        if [ -z "$pkg" ]; then fail "$b: $lib ($path) belongs to no package"; continue; fi
        listed "$b" "$lib" || fail "$b links $lib, which THIRD-PARTY.md does not list for it"
        [ -s "$folder/licences/$pkg.txt" ] || fail "$b links $lib ($pkg) without licences/$pkg.txt"
        case $lib in libx264.so.*) [ -s "$folder/licences/GPL-2.txt" ] || fail "$b links x264 without the GPL's text" ;; esac
      done ;;
  esac
done
exit $((failures > 0))
