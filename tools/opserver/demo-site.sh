#!/usr/bin/env bash
# demo-site.sh FOLDER PORT [IMAGE-MiB [BOOT-IMAGE]]
# Lays out a folder for the operator server that looks like the operators'
# site to a program built with
#   CORVANE_SERVER_URL=http://127.0.0.1:PORT/corvane/
#   CORVANE_DIRECTORY_URL=http://127.0.0.1:PORT/directory.html
# : the directory page, x64.ini and x86.ini naming two small generated images
# with their SHA-1 digests, and an update.inf that offers nothing newer.
# BOOT-IMAGE, when given, is published as the boot image (for instance a
# small bootable ISO) instead of 1 MiB of random bytes.
# Then: opserver --root FOLDER --port PORT
set -euo pipefail
dir="$1"; port="$2"; mib="${3:-8}"; boot_image="${4:-}"
base="http://127.0.0.1:$port/corvane/"
mkdir -p "$dir/corvane/images"
printf '<html><body><p>Corvane</p><p>[QX]{"server":"","status":"ok","msg":""}[/QX]</p></body></html>\n' \
  >"$dir/directory.html"
printf '#version=7\r\n' >"$dir/corvane/update.inf"
head -c $((mib * 1024 * 1024)) /dev/urandom >"$dir/corvane/images/Install.img"
if [ -n "$boot_image" ]; then
  cp "$boot_image" "$dir/corvane/images/Win8PE.iso"
else
  head -c $((1024 * 1024)) /dev/urandom >"$dir/corvane/images/Win8PE.iso"
fi
esd=$(sha1sum "$dir/corvane/images/Install.img" | cut -d' ' -f1)
boot=$(sha1sum "$dir/corvane/images/Win8PE.iso" | cut -d' ' -f1)
for edition in x64 x86; do
  printf '[Config]\r\nesdurl=%simages/Install.img\r\nbooturl=%simages/Win8PE.iso\r\nExtractSize=%s\r\nKey=DEMO-%s\r\nEsdHash=%s\r\nBootHash=%s\r\n' \
    "$base" "$base" $((mib * 1024 * 1024)) "$edition" "$esd" "$boot" >"$dir/corvane/$edition.ini"
done
echo "demo site in $dir for port $port"
