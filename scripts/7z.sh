#!/bin/sh
# Archives the recordings of a data folder before they are converted.
#   7z.sh DIR
# Packs the .dat files (any case) of DIR (not its subfolders) into one archive in DIR
# named dat-YYYYmmdd_HHMMSS.7z, with 7z when it is installed, else
# dat-YYYYmmdd_HHMMSS.tar.gz. Never deletes or changes a recording. A DIR with
# blanks arrives as several words; they are joined again. An empty DIR or
# NULL means the current folder.
set -u

dir=$(printf '%s' "$*" | tr '\\' '/')
if [ -z "$dir" ] || [ "$dir" = NULL ]; then dir=.; fi
# "./" before a relative folder: one named "-x" or "-" is no option to cd.
case $dir in /*) ;; *) dir=./$dir ;; esac
if [ ! -d "$dir" ]; then
  echo "7z.sh: no folder '$dir'" >&2
  exit 1
fi
cd "$dir" || exit 1

# ".dat" in any case, as the conversion takes them; "./" keeps a name that
# starts with "-" or "@" from being read as a switch or a list file.
set --
for f in *; do
  case $f in
    *.[dD][aA][tT]) [ -f "$f" ] && set -- "$@" "./$f" ;;
  esac
done
if [ $# -eq 0 ]; then
  echo "7z.sh: no .dat files in '$dir'"
  exit 0
fi

stamp=$(date +%Y%m%d_%H%M%S)
name="dat-$stamp"
n=1
while [ -e "$name.7z" ] || [ -e "$name.tar.gz" ]; do
  name="dat-$stamp-$n"
  n=$((n + 1))
done

# The archive is written under a temporary name and renamed when complete, so
# a half-written archive never looks finished.
if z=$(command -v 7z || command -v 7za || command -v 7zr); then
  out="$name.7z"
  "$z" a -t7z -bd -- "$out.part" "$@" >/dev/null
  status=$?
else
  out="$name.tar.gz"
  tar -czf "$out.part" -- "$@"
  status=$?
fi
if [ "$status" -ne 0 ]; then
  rm -f "$out.part"
  echo "7z.sh: archiving failed in '$dir'" >&2
  exit "$status"
fi
mv "$out.part" "$out"
echo "7z.sh: $# file(s) archived in '$dir/$out'"
