#!/usr/bin/env bash
# Makes the boot loader pair from Debian's installed boot loaders:
#
#   qxldr.mbr  the chain stub: GRUB's g2ldr.mbr (from grub-pc-bin) written by
#              grub-ntldr-img with the loader name qxldr. The Windows boot
#              manager starts it as a boot-sector entry, the NT loader as a
#              Boot.ini entry; it looks for QXLDR/qxldr in the root of every
#              partition and starts the first it finds, passing on the drive
#              and partition it came from.
#   qxldr      g2hdr.img (the header that file needs) followed by a GRUB core
#              image whose memory disk holds syslinux-common's MEMDISK and
#              our grub.cfg, which boots \Boot\WIN8PE.ISO of that partition.
#   loader-packages.txt  the exact Debian packages the two were made from.
#
# usage: make-loader.sh OUTDIR GRUB_CFG
#        make-loader.sh --check     (only: are the Debian packages there?)
set -euo pipefail

grub_dir=/usr/lib/grub/i386-pc
memdisk=/usr/lib/syslinux/memdisk
packages=(grub-pc-bin grub-common syslinux-common)

# Each input with the package that brings it.
missing=()
for need in "$grub_dir/grub-ntldr-img:grub-pc-bin" "$grub_dir/g2hdr.img:grub-pc-bin" \
            "$grub_dir/kernel.img:grub-pc-bin" \
            "$grub_dir/moddep.lst:grub-pc-bin" "/usr/bin/grub-mkimage:grub-common" \
            "$memdisk:syslinux-common"; do
  [ -e "${need%%:*}" ] || missing+=("${need##*:} (${need%%:*})")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "make-loader: the boot loaders are built from Debian packages that are missing:" >&2
  printf '  %s\n' "${missing[@]}" >&2
  echo "install them: apt-get install --no-install-recommends ${packages[*]}" >&2
  exit 1
fi
if [ "${1:-}" = --check ]; then
  exit 0
fi

out=$1
cfg=$2
mkdir -p "$out"
tmp=$(mktemp -d "$out/.make-loader.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

# ---- qxldr.mbr --------------------------------------------------------------
# grub-ntldr-img -o writes its built-in copy of g2ldr.mbr (-2: the GRUB 2
# variant) with the boot file name set by -b, which it patches at all four
# places where the stub names the file (the FAT name QXLDR twice, the NTFS
# name qxldr twice).
"$grub_dir/grub-ntldr-img" -o -2 -b=qxldr "$tmp/qxldr.mbr" >/dev/null
size=$(stat -c %s "$tmp/qxldr.mbr")
occurrences() { { grep -a -o "$@" "$tmp/qxldr.mbr" || true; } | wc -l; }
fat_names=$(occurrences QXLDR)
ntfs_names=$(occurrences qxldr)
old_names=$(occurrences -i g2ldr)
if [ "$size" -ne 8192 ] || [ "$fat_names" -ne 2 ] || [ "$ntfs_names" -ne 2 ] || [ "$old_names" -ne 0 ]; then
  echo "make-loader: unexpected stub from grub-ntldr-img ($size bytes, QXLDR x$fat_names, qxldr x$ntfs_names, g2ldr x$old_names)" >&2
  exit 1
fi

# ---- qxldr ------------------------------------------------------------------
# The memory disk is a tar archive: MEMDISK at its root and the configuration
# at the prefix. Fixed owners, times and order keep the bytes reproducible.
mkdir -p "$tmp/md/boot/grub"
cp "$memdisk" "$tmp/md/memdisk"
cp "$cfg" "$tmp/md/boot/grub/grub.cfg"
tar --format=ustar --owner=0 --group=0 --numeric-owner --mode=a+r,u+w,go-w --mtime=@0 --sort=name \
  -C "$tmp/md" -cf "$tmp/memdisk.tar" memdisk boot

# What the configuration needs, and nothing that reads the disk differently
# (no search modules: they compare names with letter case on NTFS).
modules=(biosdisk part_msdos part_gpt fat ntfs ntfscomp memdisk tar normal echo test regexp linux16 sleep reboot)
grub-mkimage -O i386-pc -d "$grub_dir" -p '(memdisk)/boot/grub' -m "$tmp/memdisk.tar" \
  -o "$tmp/core.img" "${modules[@]}"
cat "$grub_dir/g2hdr.img" "$tmp/core.img" > "$tmp/qxldr"

# ---- versions ---------------------------------------------------------------
{
  echo "# The Debian packages the boot loader pair was made from (package, version,"
  echo "# source package, source version). Their sources: apt-get source SOURCE=VERSION"
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Package} ${Version} ${source:Package} ${source:Version}\n' "$p"
  done
} > "$tmp/loader-packages.txt"

mv -f "$tmp/qxldr.mbr" "$out/qxldr.mbr"
mv -f "$tmp/qxldr" "$out/qxldr"
mv -f "$tmp/loader-packages.txt" "$out/loader-packages.txt"
