#!/usr/bin/env bash
# Installs the lane's build into a fresh prefix, checks the SDK layout, then
# builds the consumer in tests/package/consumer against that prefix the ways a
# user would, and runs it where this machine can.
#
# Linux:   layout, SONAME and version links, find_package build + run,
#          pkg-config build + run, the documented read example run on the
#          sample savefile.
# Windows: layout, VERSIONINFO, no mingw runtime DLL needed, find_package
#          build; run under the emulator when one is given (win64 under Wine);
#          the documented read example builds.
#
# Both: the release archive that CPack makes holds exactly the installed tree.
#
# Environment (set by ctest): BUILD_DIR SOURCE_DIR WORK_DIR VERSION DESCRIPTION
#   SYSTEM (linux|windows) POINTER_BITS C_COMPILER OBJDUMP CPACK TOOLCHAIN_FILE
#   MINGW_ARCH (the toolchain file's target) EMULATOR HAVE_CAPTURE_APP (0|1)
set -euo pipefail

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

prefix=$WORK_DIR/prefix
rm -rf "$WORK_DIR"
mkdir -p "$WORK_DIR"
cmake --install "$BUILD_DIR" --prefix "$prefix" >"$WORK_DIR/install.log" ||
  fail "cmake --install: $(cat "$WORK_DIR/install.log")"

# The tree holds exactly the SDK: anything else (a test library, a static
# archive of the core) would be shipped to users.
expected=(include/pkdv.h lib/cmake/pkdv/pkdvConfig.cmake lib/cmake/pkdv/pkdvConfigVersion.cmake
  lib/cmake/pkdv/pkdvTargets.cmake share/doc/pkdv/api.md share/doc/pkdv/LICENSE)
major=${VERSION%%.*}
if [[ $SYSTEM == linux ]]; then
  expected+=(lib/libpkdv.so "lib/libpkdv.so.$major" "lib/libpkdv.so.$VERSION" lib/pkgconfig/pkdv.pc)
  ((HAVE_CAPTURE_APP)) && expected+=(bin/pkdv-capture)
else
  expected+=(bin/pkdv.dll lib/libpkdv.dll.a lib/pkdv.def)
  ((HAVE_CAPTURE_APP)) && expected+=(bin/pkdv-capture.exe)
fi
actual=$(cd "$prefix" && find . \( -type f -o -type l \) ! -path './share/pkdv/*' \
  ! -path './lib/cmake/pkdv/pkdvTargets-*.cmake' | sed 's|^\./||' | sort)
wanted=$(printf '%s\n' "${expected[@]}" | sort)
[[ $actual == "$wanted" ]] ||
  fail "installed files differ from the SDK layout:"$'\n'"$(diff <(echo "$wanted") <(echo "$actual"))"
ls "$prefix"/lib/cmake/pkdv/pkdvTargets-*.cmake >/dev/null || fail "no per-configuration target file"
cmp -s "$prefix/include/pkdv.h" "$SOURCE_DIR/include/pkdv.h" || fail "installed pkdv.h differs"
cmp -s "$prefix/share/doc/pkdv/LICENSE" "$SOURCE_DIR/LICENSE" || fail "installed LICENSE differs"
grep -q "share/doc/pkdv/api.md" "$prefix/include/pkdv.h" || fail "pkdv.h does not point to the docs"
grep -q "PACKAGE_VERSION \"$VERSION\"" "$prefix/lib/cmake/pkdv/pkdvConfigVersion.cmake" ||
  fail "CMake version file does not say $VERSION"

# The release archive holds that same tree under one top directory named
# after the version and the system.
if [[ $SYSTEM == linux ]]; then
  system_name=linux-$(uname -m)
  archive_type=tar.gz
else
  system_name=win$POINTER_BITS
  archive_type=zip
fi
top=pkdv-$VERSION-$system_name
(cd "$BUILD_DIR" && "$CPACK" -B "$WORK_DIR/archive" >"$WORK_DIR/cpack.log" 2>&1) || fail "cpack: $(cat "$WORK_DIR/cpack.log")"
archive=$WORK_DIR/archive/$top.$archive_type
[[ -f $archive ]] || fail "cpack made $(ls "$WORK_DIR/archive"), not $top.$archive_type"
in_archive=$(cmake -E tar tf "$archive" | grep -v '/$' | sort)
in_prefix=$(cd "$prefix" && find . \( -type f -o -type l \) | sed "s|^\.|$top|" | sort)
[[ $in_archive == "$in_prefix" ]] ||
  fail "$top.$archive_type differs from the installed tree:"$'\n'"$(diff <(echo "$in_prefix") <(echo "$in_archive"))"
(cd "$WORK_DIR" && cmake -E tar xf "$archive") || fail "cannot unpack $top.$archive_type"

consumer=$SOURCE_DIR/tests/package/consumer
cmake_args=(-S "$consumer" -B "$WORK_DIR/consumer-cmake" -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_PREFIX_PATH="$prefix")
[[ -n ${TOOLCHAIN_FILE:-} ]] && cmake_args+=(-DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN_FILE")
[[ -n ${MINGW_ARCH:-} ]] && cmake_args+=(-DPKDV_MINGW_ARCH="$MINGW_ARCH")
cmake "${cmake_args[@]}" >"$WORK_DIR/consumer-configure.log" 2>&1 ||
  fail "consumer configure: $(cat "$WORK_DIR/consumer-configure.log")"
cmake --build "$WORK_DIR/consumer-cmake" >"$WORK_DIR/consumer-build.log" 2>&1 ||
  fail "consumer build: $(cat "$WORK_DIR/consumer-build.log")"

# Prints the C example of docs/api.md whose first line names `file`.
doc_example() {
  awk -v file="$1" '
    /^```c$/ { getline first; grab = index(first, "/* " file ":") == 1; if (grab) print first; next }
    /^```$/ { grab = 0 }
    grab' "$SOURCE_DIR/docs/api.md"
}

# Runs a consumer and checks that it listed adapters the documented way.
# There is always at least the loopback adapter (Wine lists the host's).
run_consumer() {
  local how=$1 minimum=$2
  shift 2
  local output
  # Windows programs end their lines with CR LF.
  output=$("$@" | tr -d '\r'; exit "${PIPESTATUS[0]}") || fail "$how consumer exited with $?: $output"
  local count
  count=$(sed -n 's/^\([0-9]*\) adapters$/\1/p' <<<"$output")
  [[ -n $count ]] || fail "$how consumer printed no adapter count: $output"
  ((count >= minimum)) || fail "$how consumer listed $count adapters, expected at least $minimum"
  echo "$how consumer: $count adapters"
}

if [[ $SYSTEM == linux ]]; then
  lib=$prefix/lib
  [[ $(readlink "$lib/libpkdv.so") == "libpkdv.so.$major" ]] || fail "libpkdv.so does not link to libpkdv.so.$major"
  [[ $(readlink "$lib/libpkdv.so.$major") == "libpkdv.so.$VERSION" ]] ||
    fail "libpkdv.so.$major does not link to libpkdv.so.$VERSION"
  [[ -f $lib/libpkdv.so.$VERSION && ! -L $lib/libpkdv.so.$VERSION ]] || fail "libpkdv.so.$VERSION is not the library"
  soname=$(LC_ALL=C readelf -d "$lib/libpkdv.so.$VERSION" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
  [[ $soname == "libpkdv.so.$major" ]] || fail "SONAME is '$soname', want libpkdv.so.$major"
  if ((HAVE_CAPTURE_APP)); then
    [[ -x $prefix/bin/pkdv-capture ]] || fail "bin/pkdv-capture is not executable"
    # It must find the library of its own tree, not one of the build tree.
    loaded=$(ldd "$prefix/bin/pkdv-capture" | sed -n "s/^\s*libpkdv\.so\.$major => \(\S*\) .*/\1/p")
    [[ -n $loaded && $(realpath "$loaded") == $(realpath "$lib/libpkdv.so.$major") ]] ||
      fail "installed pkdv-capture loads '$loaded', not $lib/libpkdv.so.$major"
  fi

  run_consumer find_package 1 "$WORK_DIR/consumer-cmake/list-adapters"

  export PKG_CONFIG_PATH=$lib/pkgconfig
  [[ $(pkg-config --modversion pkdv) == "$VERSION" ]] || fail "pkg-config reports $(pkg-config --modversion pkdv)"
  # shellcheck disable=SC2046 # the flags are meant to split
  "$C_COMPILER" -std=c99 -Wall -Wextra -Wpedantic -Werror "$consumer/list_adapters.c" \
    $(pkg-config --cflags --libs pkdv) -o "$WORK_DIR/list-adapters-pc" ||
    fail "pkg-config build of the consumer"
  run_consumer pkg-config 1 env LD_LIBRARY_PATH="$(pkg-config --variable=libdir pkdv)" "$WORK_DIR/list-adapters-pc"
  # An unpacked tarball describes itself where it lies, not where it was made.
  unpacked_lib=$(PKG_CONFIG_PATH=$WORK_DIR/$top/lib/pkgconfig pkg-config --variable=libdir pkdv)
  [[ $(realpath "$unpacked_lib") == $(realpath "$WORK_DIR/$top/lib") ]] ||
    fail "pkdv.pc of the unpacked tarball points to $unpacked_lib"

  # The documented read example, run on the installed sample savefile: ten
  # reads posted, filled by the poller and handed back in this thread, in order.
  doc_example read_posix.c >"$WORK_DIR/read_posix.c"
  [[ -s $WORK_DIR/read_posix.c ]] || fail "docs/api.md has no read_posix.c example"
  # shellcheck disable=SC2046
  "$C_COMPILER" -std=c99 -Wall -Wextra -Werror "$WORK_DIR/read_posix.c" $(pkg-config --cflags --libs pkdv) \
    -Wl,-rpath,"$lib" -o "$WORK_DIR/read_posix" || fail "docs/api.md example read_posix.c does not build"
  sample=$prefix/share/pkdv/sample.pcap
  if [[ -f $sample ]]; then
    frames=$(timeout 20 "$WORK_DIR/read_posix" "file://$sample") || fail "read_posix.c example exited with $?"
    wanted_frames=$(for n in $(seq 1 10); do echo "frame $n:"; done)
    [[ $(cut -d' ' -f1-2 <<<"$frames") == "$wanted_frames" ]] ||
      fail "read_posix.c example on the sample savefile printed:"$'\n'"$frames"
    echo "documented read example: 10 frames handed back in order"
  fi
else
  # The archive's DLL is stripped: its resources must survive that.
  for dll in "$prefix/bin/pkdv.dll" "$WORK_DIR/$top/bin/pkdv.dll"; do
    cmake -DDLL="$dll" -DVERSION="$VERSION" -DDESCRIPTION="$DESCRIPTION" \
      -P "$SOURCE_DIR/tests/package/check_version_resource.cmake"
  done

  # Users of the zip have no mingw runtime: the shipped programs may not need
  # one (the DLL's own imports are checked with its export table).
  for binary in "$prefix"/bin/*.exe; do
    [[ -f $binary ]] || continue
    needs=$("$OBJDUMP" -p "$binary" | sed -n 's/^\s*DLL Name: //p')
    if grep -Ei '^(libstdc\+\+|libgcc|libwinpthread)' <<<"$needs"; then
      fail "$(basename "$binary") needs a mingw runtime DLL"
    fi
  done

  doc_example read_windows.c >"$WORK_DIR/read_windows.c"
  [[ -s $WORK_DIR/read_windows.c ]] || fail "docs/api.md has no read_windows.c example"
  "$C_COMPILER" -std=c99 -Wall -Wextra -Werror "$WORK_DIR/read_windows.c" -I"$prefix/include" \
    -L"$prefix/lib" -lpkdv -o "$WORK_DIR/read_windows.exe" || fail "docs/api.md example read_windows.c does not build"

  exe=$WORK_DIR/consumer-cmake/list-adapters.exe
  # The consumer binds to the DLL's undecorated names through the import library.
  imports=$("$OBJDUMP" -p "$exe")
  grep -q 'DLL Name: pkdv.dll' <<<"$imports" || fail "consumer does not import from pkdv.dll"
  for name in PKDV_GetFirstAdapterRegistryInfo PKDV_GetNextAdapterRegistryInfo; do
    grep -Eq "^\s+[0-9a-f]+\s+[0-9]+\s+$name$" <<<"$imports" || fail "consumer does not import $name by that name"
  done
  [[ -f $WORK_DIR/consumer-cmake/pkdv.dll ]] || fail "pkdv.dll was not copied beside the consumer"

  if [[ -n ${EMULATOR:-} ]]; then
    minimum=1
    if ! "$EMULATOR" --lists-adapters; then
      echo "NOTE: Wine lists no adapters on this machine (i386 code runs through qemu): the consumer only has to end its listing the documented way"
      minimum=0
    fi
    run_consumer find_package "$minimum" "$EMULATOR" "$exe"
  else
    echo "consumer built; this machine cannot run it"
  fi
fi
echo "installed tree at $prefix is a working SDK"
