#!/bin/sh
# Archives the recordings of a data folder before they are converted.
#   7z.sh DIR
# Keeps one archive of the .dat files (any case) of DIR (not its subfolders) in
# DIR and adds to it only what is new or changed since the last run: dat.7z,
# updated with "7z u", when 7z is installed, else an uncompressed dat.tar,
# updated with "tar -u". An archive that exists already is kept in its form.
# Never deletes or changes a recording. A DIR with blanks arrives as several
# words; they are joined again. An empty DIR or NULL means the current folder.
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

z=$(command -v 7z || command -v 7za || command -v 7zr) || z=
if [ -e dat.7z ] || { [ -n "$z" ] && [ ! -e dat.tar ]; }; then
  if [ -z "$z" ]; then
    echo "7z.sh: '$dir/dat.7z' exists but 7z is not installed" >&2
    exit 1
  fi
  out=dat.7z
  # 7z writes the updated archive beside the old one and replaces it only
  # when complete, so a failed run leaves the last archive as it was.
  "$z" u -t7z -bd -- "$out" "$@" >/dev/null
  status=$?
elif [ -e dat.tar ]; then
  # POSIX format keeps times to the nanosecond: a recording written to in
  # the same second as the last run still counts as changed.
  out=dat.tar
  tar --format=posix -uf "$out" -- "$@"
  status=$?
else
  # The first archive is written under a temporary name and renamed when
  # complete, so a half-written archive never looks finished.
  out=dat.tar
  tar --format=posix -cf "$out.part" -- "$@" && mv "$out.part" "$out"
  status=$?
  [ "$status" -eq 0 ] || rm -f "$out.part"
fi
if [ "$status" -ne 0 ]; then
  echo "7z.sh: archiving failed in '$dir'" >&2
  exit "$status"
fi
echo "7z.sh: $# file(s) brought up to date in '$dir/$out'"
