#!/bin/sh
# cmd.exe of the simulated machine: tests copy it to
# <machine>/C/Windows/System32/Cmd.exe. It understands what the program asks
# of the command interpreter, "/c PROGRAM [ARGUMENTS...]" (the arguments
# arrive split by the Windows rules), and looks PROGRAM up as cmd does: in the
# current folder first, then in the system folder (the folder of this file),
# with or without ".exe". An unknown name gets cmd's message, in the machine's
# display language and console code page, and the exit code 9009.
case "$1" in
  /c|/C) shift ;;
  *) echo "cmd stand-in: only /c is understood" >&2; exit 1 ;;
esac
[ $# -ge 1 ] || exit 0
prog=$1
shift
sys=$(dirname "$0")
for cand in "./$prog" "./$prog.exe" "$sys/$prog" "$sys/$prog.exe"; do
  if [ -f "$cand" ] && [ -x "$cand" ]; then exec "$cand" "$@"; fi
done
case "${CORVANE_SIM_UILANG:-en-US}" in
  zh*|ZH*) msg="'$prog' 不是内部或外部命令，也不是可运行的程序
或批处理文件。" ;;
  *) msg="'$prog' is not recognized as an internal or external command,
operable program or batch file." ;;
esac
cp=${CORVANE_SIM_CONSOLE_CP:-UTF-8}
printf '%s\n' "$msg" | iconv -f UTF-8 -t "$cp" 2>/dev/null || printf '%s\n' "$msg"
exit 9009
