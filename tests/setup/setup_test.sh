#!/usr/bin/env bash
# Tests scripts/setup-debian.sh against stand-ins for apt-get, dpkg and
# dpkg-query placed first on PATH. The stand-ins keep the "installed" package
# set in a file and record every apt-get call; how apt-get behaves is set per
# case: APT_UPDATE_RC, APT_INSTALL_RC (first install), APT_RETRY_RC (the
# install with APT::Default-Release).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
script="$here/../../scripts/setup-debian.sh"
work="$(mktemp -d /tmp/cvt-setup-XXXXXX)"
trap 'rm -rf "$work"' EXIT
stubs="$work/bin"; mkdir -p "$stubs"

cat >"$stubs/dpkg-query" <<'EOF'
#!/usr/bin/env bash
# dpkg-query -W -f=FORMAT PKG...: one line per installed package of the state.
shift 2
for p in "$@"; do
  name="${p%%:*}"; arch="amd64"; [ "$p" != "$name" ] && arch="${p#*:}"
  grep -qxF "$p" "$STATE" && echo "$name:$arch installed"
done
exit 0
EOF
cat >"$stubs/dpkg" <<'EOF'
#!/usr/bin/env bash
case "$1" in
  --print-architecture) echo amd64 ;;
  --print-foreign-architectures) cat "$STATE.arch" 2>/dev/null || true ;;
  --add-architecture) echo "$2" >>"$STATE.arch"; echo "dpkg $*" >>"$CALLS" ;;
esac
EOF
cat >"$stubs/apt-get" <<'EOF'
#!/usr/bin/env bash
echo "apt-get $*" >>"$CALLS"
case " $* " in
  *" update "*) exit "${APT_UPDATE_RC:-0}" ;;
esac
rc="${APT_INSTALL_RC:-0}"
case " $* " in *"APT::Default-Release="*) rc="${APT_RETRY_RC:-0}" ;; esac
if [ "$rc" = 0 ]; then
  for a in "$@"; do case "$a" in -*|install|APT::*) ;; *) echo "$a" >>"$STATE" ;; esac; done
else
  echo "E: Unable to correct problems, you have held broken packages." >&2
fi
exit "$rc"
EOF
cat >"$stubs/sudo" <<'EOF'
#!/usr/bin/env bash
exec "$@"
EOF
chmod +x "$stubs"/*

# The package list, read from the script itself.
mapfile -t all < <(sed -n '/^packages=(/,/^)/p' "$script" | sed '1d;$d' | tr ' ' '\n' | sed '/^$/d')
[ "${#all[@]}" -gt 10 ] || { echo "setup_test: could not read the package list"; exit 1; }

failures=0
run_case() { # run_case NAME EXPECTED-EXIT INSTALLED-PACKAGES... (env: the apt behaviour, FOREIGN)
  local name="$1" want="$2"; shift 2
  export STATE="$work/$name.state" CALLS="$work/$name.calls"
  : >"$CALLS"; printf '%s\n' "$@" >"$STATE"; printf '%s' "${FOREIGN-i386}" >"$STATE.arch"
  set +e
  PATH="$stubs:$PATH" bash "$script" >"$work/$name.out" 2>&1
  got=$?
  set -e
  if [ "$got" != "$want" ]; then
    echo "setup_test: $name: exit $got, expected $want"; sed 's/^/  | /' "$work/$name.out"; failures=$((failures + 1))
    return 1
  fi
}
expect() { # expect NAME DESCRIPTION COMMAND...
  local name="$1" what="$2"; shift 2
  if ! "$@"; then
    echo "setup_test: $name: $what"; sed 's/^/  calls| /' "$CALLS"; sed 's/^/  out| /' "$work/$name.out"
    failures=$((failures + 1))
  fi
}

# Everything installed: not one apt call.
if run_case all-installed 0 "${all[@]}"; then
  expect all-installed "apt was called" test ! -s "$CALLS"
fi

# The update fails with 100 (mirror in sync): the install still runs and succeeds.
if APT_UPDATE_RC=100 run_case update-fails 0 "${all[@]:3}"; then
  expect update-fails "no install after the failed update" grep -q "^apt-get install" "$CALLS"
  expect update-fails "the failure was not shown" grep -q "update failed" "$work/update-fails.out"
fi

# The first install fails: a second try preferring the release's packages.
if APT_INSTALL_RC=100 run_case retry 0 "${all[@]:1}"; then
  expect retry "no second install" test "$(grep -c '^apt-get install' "$CALLS")" = 2
  expect retry "the second try does not prefer the release" grep -q "APT::Default-Release=" "$CALLS"
  expect retry "the retry was not announced" grep -q "trying once more" "$work/retry.out"
fi

# Both tries fail: non-zero exit and the missing packages named.
missing_a="${all[0]}" missing_b="${all[5]}"
if APT_INSTALL_RC=100 APT_RETRY_RC=100 run_case both-fail 1 "${all[@]:1:4}" "${all[@]:6}"; then
  expect both-fail "the missing packages were not named" \
    grep -q "could not be installed:.* $missing_a .*$missing_b" <(sed 's/$/ /' "$work/both-fail.out")
fi

# i386 not added yet: it is added before apt runs.
if FOREIGN="" run_case add-arch 0 "${all[@]:2}"; then
  expect add-arch "i386 was not added before the update" \
    test "$(head -n1 "$CALLS")" = "dpkg --add-architecture i386"
fi

if [ "$failures" -ne 0 ]; then
  echo "setup_test: $failures failed"
  exit 1
fi
echo "setup_test: all cases passed"
