#!/usr/bin/env bash
# Runs a command inside a small emulated x86-64 machine that boots Debian's
# own kernel and sees this host's root file system: there 32-bit code runs
# even where this host's kernel refuses it (the machine emulates the whole
# CPU). The host's root is shared read-only, with a tmpfs overlay on top,
# so the command may change anything (/etc/hosts, say) and nothing of it
# outlives the machine, except in the directories given with --rw.
#
#   scripts/vm32.sh fetch     fetch the kernel package into the cache (set-up does this)
#   scripts/vm32.sh run [--timeout SEC] [--rw DIR]... [--ro DIR]... [--cwd DIR] -- COMMAND [ARG...]
#
# run boots the machine, runs COMMAND as root in the host's root, prints its
# output (standard output and error together, after it ended) and exits with
# its exit code; 124 when the time ran out (the machine is killed), 125 when
# the machine ended without an exit code. --rw DIR shares DIR writable at the
# same path (it must exist). /tmp is a new, empty tmpfs in the machine (Wine
# and Xvfb keep their sockets and locks there, and the host's must not be
# seen): what the command needs from under the host's /tmp must be shared
# with --ro DIR (read-only) or --rw DIR. Nothing is piped: the machine's console, the
# command's output and its exit code travel as files in a writable share.
#
# The machine has no network device, only loopback. The kernel package
# (linux-image-<version>-amd64, the version that the index's linux-image-amd64
# depends on) is unpacked into QX_VM_CACHE (default /var/cache/qxtts-vm32),
# never installed; the initramfs (busybox-static and the kernel's virtio, 9p
# and overlay modules) is built in QX_BUILD/vm32. QX_VM_ACCEL=kvm|tcg chooses
# the accelerator (default tcg, full emulation).
set -euo pipefail
source "$(dirname "$0")/lib.sh"

QX_VM_CACHE=${QX_VM_CACHE:-/var/cache/qxtts-vm32}
vm_dir="$QX_BUILD/vm32"

usage() { sed -n '8,9s/^# \{0,1\}//p' "$0" >&2; exit 2; }

# The unpacked kernel in the cache: prints its directory, or fails.
cached_kernel() {
  local d
  for d in "$QX_VM_CACHE"/linux-*; do
    [ -f "$d/ready" ] && { echo "$d"; return 0; }
  done
  return 1
}

# Kernel package names to try, best first: the one the metapackage points
# at, then every other version in the index, newest first (a mirror mid-sync
# may have dropped the first one's file).
kernel_candidates() {
  apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[0-9].*-amd64\)$/\1/p'
  apt-cache pkgnames linux-image- 2>/dev/null | grep -E '^linux-image-[0-9.]+-[0-9]+-amd64$' | sort -V -r
}

fetch() {
  cached_kernel >/dev/null && return 0
  mkdir -p "$QX_VM_CACHE"
  exec 9>"$QX_VM_CACHE/.lock"
  flock 9                                   # another tree may be fetching it
  cached_kernel >/dev/null && return 0
  local tmp pkg try deb
  tmp=$(mktemp -d "$QX_VM_CACHE/.fetch.XXXXXX")
  # The preferred package is tried three times, the fallbacks once each.
  local tries="1 2 3"
  for pkg in $(kernel_candidates | awk '!seen[$0]++' | head -6); do
    for try in $tries; do
      if (cd "$tmp" && apt-get -q -o Acquire::Retries=2 download "$pkg" >/dev/null 2>&1); then
        deb=$(ls "$tmp"/*.deb)
        dpkg-deb -x "$deb" "$tmp/root"
        rm -f "$deb"
        local ver=${pkg#linux-image-}
        mkdir -p "$tmp/linux-$ver"
        mv "$tmp/root/boot/vmlinuz-$ver" "$tmp/linux-$ver/vmlinuz"
        mv "$tmp/root/lib/modules/$ver/kernel" "$tmp/linux-$ver/modules"
        touch "$tmp/linux-$ver/ready"
        mv "$tmp/linux-$ver" "$QX_VM_CACHE/"
        rm -rf "$tmp"
        echo "vm32: kernel $ver in $QX_VM_CACHE" >&2
        return 0
      fi
      echo "vm32: downloading $pkg failed (try $try)" >&2
      sleep $((try * 3))
    done
    tries=1
  done
  rm -rf "$tmp"
  echo "vm32: no kernel package could be downloaded" >&2
  return 1
}

# Modules the machine needs: virtio PCI transport, 9p over virtio, overlay.
# The package has no modules.dep: each module's own depends= field gives
# what must be loaded before it.
modules_wanted=(virtio_pci 9pnet_virtio 9p overlay)

module_order() {
  local kdir=$1 name
  declare -A path=() done=()
  while IFS= read -r f; do
    name=$(basename "$f" .ko)
    path[${name//-/_}]=$f
  done < <(find "$kdir/modules" -name '*.ko')
  visit() {
    local m=${1//-/_} dep
    [ -n "${done[$m]:-}" ] && return 0
    done[$m]=1
    [ -n "${path[$m]:-}" ] || { echo "vm32: module $m not in the kernel package" >&2; return 1; }
    for dep in $(tr '\0' '\n' <"${path[$m]}" | sed -n 's/^depends=//p' | tr , ' '); do
      visit "$dep"
    done
    echo "${path[$m]}"
  }
  for name in "${modules_wanted[@]}"; do visit "$name"; done
}

build_initramfs() {
  local kdir=$1 out=$vm_dir/initramfs.cpio
  if [ -f "$out" ] && [ "$out" -nt "$0" ] && [ "$out" -nt "$kdir/ready" ]; then
    echo "$out"
    return 0
  fi
  local tree=$vm_dir/initramfs i=0 m
  rm -rf "$tree"
  mkdir -p "$tree"/{bin,dev,proc,sys,lower,ovl,newroot,qxrun,modules}
  cp /bin/busybox "$tree/bin/busybox"
  ln -s busybox "$tree/bin/sh"
  for m in $(module_order "$kdir"); do
    i=$((i + 1))
    cp "$m" "$tree/modules/$(printf %02d "$i")-$(basename "$m")"
  done
  cat >"$tree/init" <<'INIT'
#!/bin/sh
# The machine's first process: mounts the host's root with an overlay, runs
# the command given in the run share, records its exit code, powers off.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for m in /modules/*.ko; do insmod "$m" || echo "vm32: insmod $m failed"; done
p9="-t 9p -o trans=virtio,version=9p2000.L,msize=512000"
mount $p9 qxrun /qxrun
mount $p9,ro,cache=loose hostroot /lower
mount -t tmpfs -o mode=755 ovl /ovl
mkdir -p /ovl/upper /ovl/work
mount -t overlay -o lowerdir=/lower,upperdir=/ovl/upper,workdir=/ovl/work overlay /newroot
r=/newroot
mount -t proc proc $r/proc
mount -t sysfs sys $r/sys
mount -t devtmpfs dev $r/dev
mkdir -p $r/dev/pts $r/dev/shm
mount -t devpts devpts $r/dev/pts
mount -t tmpfs shm $r/dev/shm
mount -t tmpfs -o mode=1777 tmp $r/tmp
mount -t tmpfs -o mode=755 run $r/run
while read -r tag mode dir; do
  # A read-only share does not change while the machine runs: cached like the root.
  [ "$mode" = ro ] && mode=ro,cache=loose
  mkdir -p "$r$dir"; mount $p9,$mode "$tag" "$r$dir" || echo "vm32: cannot mount $dir"
done </qxrun/shares
rundir=$(cat /qxrun/dir)
mkdir -p "$r$rundir"
mount --bind /qxrun "$r$rundir"
ip link set lo up
hostname vm32
chroot $r /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  HOME=/root TERM=dumb QX_IN_VM32=1 /bin/sh -c 'cd "$(cat "$1/cwd")" && exec /bin/bash "$1/command"' vm32 "$rundir" \
  </dev/null >"$r$rundir/out" 2>&1
echo $? >"$r$rundir/rc"
sync
poweroff -f
INIT
  chmod 755 "$tree/init"
  (cd "$tree" && find . | busybox cpio -o -H newc >"$out.tmp" 2>/dev/null)
  mv "$out.tmp" "$out"
  echo "$out"
}

# Full emulation (TCG) unless QX_VM_ACCEL=kvm: a machine that refuses
# 32-bit code to this host refuses it to KVM guests too, and on a host with
# nested KVM that does run 32-bit code the guest was seen to hang in its
# kernel's start.
accel() {
  case "${QX_VM_ACCEL:-tcg}" in
    kvm) echo kvm ;;
    tcg) echo tcg,thread=multi ;;
    *) echo "vm32: QX_VM_ACCEL must be kvm or tcg" >&2; exit 2 ;;
  esac
}

run() {
  local timeout=600 cwd=$PWD shares=()
  while [ $# -gt 0 ]; do
    case "$1" in
      --timeout) timeout=$2; shift 2 ;;
      --rw) shares+=("$(cd "$2" && pwd) rw"); shift 2 ;;
      --ro) shares+=("$(cd "$2" && pwd) ro"); shift 2 ;;
      --cwd) cwd=$2; shift 2 ;;
      --) shift; break ;;
      *) usage ;;
    esac
  done
  [ $# -gt 0 ] || usage
  local kdir initrd
  kdir=$(cached_kernel) || { fetch && kdir=$(cached_kernel); }
  mkdir -p "$vm_dir"
  initrd=$(build_initramfs "$kdir")

  local rundir
  rundir=$(mktemp -d "$vm_dir/run.XXXXXX")
  printf '%s\n' "$rundir" >"$rundir/dir"
  printf '%s\n' "$cwd" >"$rundir/cwd"
  printf '%q ' "$@" >"$rundir/command"
  echo >>"$rundir/command"
  # Mounted in path order, so a share inside another one comes after it.
  local args=() i=0 share dir mode ro
  : >"$rundir/shares"
  while IFS= read -r share; do
    [ -n "$share" ] || continue
    dir=${share% *} mode=${share##* } ro=
    [ "$mode" = ro ] && ro=,readonly=on
    args+=(-virtfs "local,path=$dir,mount_tag=s$i,security_model=none,multidevs=remap$ro")
    printf 's%d %s %s\n' "$i" "$mode" "$dir" >>"$rundir/shares"
    i=$((i + 1))
  done < <(printf '%s\n' "${shares[@]}" | sort)

  local a cpu
  a=$(accel)
  # Without smap=off every 32-bit Wine process oopses the guest's kernel at
  # its return to 32-bit user code under full emulation.
  cpu=max,smap=off
  qemu-system-x86_64 -accel "$a" -cpu "$cpu" -smp 2 -m 4096 \
    -nographic -no-reboot -nodefaults -serial "file:$rundir/console.log" -monitor none \
    -kernel "$kdir/vmlinuz" -initrd "$initrd" -append "console=ttyS0 quiet panic=-1" \
    -virtfs "local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap" \
    -virtfs "local,path=$rundir,mount_tag=qxrun,security_model=none,multidevs=remap" \
    "${args[@]}" </dev/null >"$rundir/qemu.log" 2>&1 &
  qemu=$!
  local waited=0 status
  # Stopped early (a test's timeout, Ctrl-C), the machine goes too.
  trap 'kill -9 "$qemu" 2>/dev/null || true' EXIT
  trap 'exit 143' TERM INT
  while kill -0 "$qemu" 2>/dev/null; do
    if ((waited >= timeout * 5)); then
      kill -9 "$qemu" 2>/dev/null || true
      wait "$qemu" 2>/dev/null || true
      [ -f "$rundir/out" ] && cat "$rundir/out"
      echo "vm32: the command did not end within $timeout s; the machine was stopped ($rundir)" >&2
      tail -20 "$rundir/console.log" | tr -d '\033' >&2
      return 124
    fi
    sleep 0.2
    waited=$((waited + 1))
  done
  wait "$qemu" || true
  trap - EXIT
  [ -f "$rundir/out" ] && cat "$rundir/out"
  if [ ! -s "$rundir/rc" ]; then
    echo "vm32: the machine ended without the command's exit code ($rundir)" >&2
    tail -30 "$rundir/qemu.log" "$rundir/console.log" | tr -d '\033' >&2
    return 125
  fi
  status=$(cat "$rundir/rc")
  rm -rf "$rundir"
  return "$status"
}

case "${1:-}" in
  fetch) fetch ;;
  run) shift; run "$@" ;;
  *) usage ;;
esac
