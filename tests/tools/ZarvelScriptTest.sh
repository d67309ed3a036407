#!/usr/bin/env bash
# The set-up script's install step with stand-ins for dpkg, apt-get, sudo and id: it installs
# exactly what is missing, through sudo only when not root, and nothing when all is there; and
# the README shows its package list as the line to copy.
set -euo pipefail
source_dir="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
cat > "$work/bin/dpkg" <<'STANDIN'
#!/bin/sh
[ "$1" = -s ] && grep -qx "$2" "$FAKE_INSTALLED"
STANDIN
cat > "$work/bin/apt-get" <<'STANDIN'
#!/bin/sh
echo "apt-get $*" >> "$FAKE_LOG"
STANDIN
cat > "$work/bin/sudo" <<'STANDIN'
#!/bin/sh
echo "sudo" >> "$FAKE_LOG"
exec "$@"
STANDIN
cat > "$work/bin/id" <<'STANDIN'
#!/bin/sh
echo "$FAKE_UID"
STANDIN
chmod +x "$work/bin"/*
export PATH="$work/bin:$PATH" FAKE_LOG="$work/log" FAKE_INSTALLED="$work/installed"

read -r -a packages <<< "$("$source_dir/zarvel" packages)"
fail() { echo "FAILED: $*"; cat "$FAKE_LOG" 2>/dev/null; exit 1; }
lock="-o DPkg::Lock::Timeout=600"

# Everything there: nothing runs.
printf '%s\n' "${packages[@]}" > "$FAKE_INSTALLED"
rm -f "$FAKE_LOG"
FAKE_UID=1000 "$source_dir/zarvel" install
[ ! -e "$FAKE_LOG" ] || fail "apt-get ran with nothing missing"

# Two missing, not root: both installed in one go, through sudo.
printf '%s\n' "${packages[@]}" | grep -vx -e ninja-build -e libcli11-dev > "$FAKE_INSTALLED"
FAKE_UID=1000 "$source_dir/zarvel" install > /dev/null
expected="sudo
apt-get $lock update -q
sudo
apt-get $lock install -y -q --no-install-recommends ninja-build libcli11-dev"
[ "$(cat "$FAKE_LOG")" = "$expected" ] || fail "not root"

# As root: no sudo; --ci adds the compilers, the format check and the other platforms' tools.
rm -f "$FAKE_LOG"
FAKE_UID=0 "$source_dir/zarvel" install --ci > /dev/null
expected="apt-get $lock update -q
apt-get $lock install -y -q --no-install-recommends ninja-build libcli11-dev clang clang-14 libclang-rt-14-dev clang-format g++-mingw-w64-x86-64-posix wine64 googletest g++-aarch64-linux-gnu qemu-user dpkg-dev"
[ "$(cat "$FAKE_LOG")" = "$expected" ] || fail "root, --ci"

# The README's line to copy is the same list.
grep -qxF "sudo apt-get install ${packages[*]}" "$source_dir/README.md" ||
    fail "README.md lacks: sudo apt-get install ${packages[*]}"
echo "the install step installs exactly what is missing"
