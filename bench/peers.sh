#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Peer benchmark: Kestrel against cp -a, tar, tar|gzip -9, tar|pigz -9, rsync -a, restic, borg
# and tar|curl -T.
#
# It generates trees in a scratch folder and runs on each, with every tool, a full backup, an
# unchanged second backup, a full restore and the restore of one file, then prints one table
# per tree:
#   mixed    ~200 MB in ~11,000 files: random (incompressible) binaries and generated
#            (compressible) text, in folders of very different sizes, a few large binaries
#   small    100,000 files of 200 B to 4 KB (80 % text), about 100 to a folder
#   million  1,000,000 files of 20 B to 400 B, about 1,000 to a folder: the memory a run needs
#            for a large catalogue (only kestrel-compressed, kestrel-copy, rsync and tar run on
#            it; not in the default --trees)
#
# Use:
#   bench/peers.sh [--reps 3] [--scale 1] [--tsv FILE] [--raw FILE] [--work DIR] [--keep]
#                  [--kestrel-cli PATH] [--trees mixed,small] [--tools LIST]
#                  [--drop-caches] [--install]
#   bench/peers.sh --scale 0.05 --reps 2          # a quick run on trees at 5 % of their size
#   bench/peers.sh --trees million --reps 1       # the memory of a 1,000,000-file catalogue
#
# Tools (--tools, comma separated; default all that are found):
#   kestrel-compressed  kestrel-cli job, --storage compressed --type incremental
#   kestrel-copy        kestrel-cli job, --storage copy --type incremental (plain copies; the
#                       second run skips what did not change; the copies are the backup, so
#                       there is no restore: its full backup's destination is checked against
#                       the source instead)
#   kestrel-ftp         kestrel-cli job, --storage archive (not compressed) to a vsftpd on the
#                       loopback that the script starts (needs vsftpd and root): the full run
#                       only, which builds the archive and uploads it
#   cp                  cp -a of the tree (full only): the peer of kestrel-copy's full run
#   tar                 tar without compression, --listed-incremental: the peer of restores
#   tar-gzip            tar | gzip -9, the baseline of the wall/tgz column
#   tar-pigz            tar | pigz -9 (pigz's default thread count: one per core)
#   tar-curl            tar | curl -T to the same vsftpd (full only): the peer of kestrel-ftp
#   rsync               rsync -a into a folder; the second run is rsync of the unchanged tree,
#                       the restore rsync -a back
#   restic              default compression (auto, zstd) of a version 2 repository; a fixed
#                       password file, since restic always encrypts
#   borg                --encryption none, default compression (lz4)
# Kestrel's jobs are incremental so that the second run, like rsync's, restic's and borg's,
# stores what changed. tar uses --listed-incremental for the same reason: the full backup is a
# level 0 archive, the second a level 1 archive against a copy of its snapshot file, and the
# restore extracts both, level 0 then level 1. The one-file restore (restore1) takes a file from
# the middle of the tree. Setting-up steps (kestrel-cli new, restic init, borg init) are not
# timed.
#
# The wall/peer column sets Kestrel's figures beside the peer each is meant to match:
#   kestrel-copy full: cp; kestrel-copy second: rsync; kestrel-compressed second: rsync;
#   kestrel-compressed restore and restore1: tar; kestrel-ftp full: tar-curl.
#
# kestrel-cli: --kestrel-cli PATH, else $KESTREL_CLI, else ../build-release-g/bin/kestrel-cli
# beside this script (the GCC build of scripts/release-check.sh), else ../build/bin/kestrel-cli.
# Each Kestrel run gets its own program folder (--home) in the scratch folder.
#
# Method. The repetitions (--reps, default 3) are interleaved: each repetition runs every tool
# once (full, second, restore, restore1), starting one tool later than the previous repetition,
# so that no tool always runs first. Before every timed step the file systems are synced, and
# every restore ends with a sync inside its timing, so that what a restore leaves to the page
# cache is counted for every tool alike; the page cache is otherwise left as it is (the source
# tree stays warm for every tool alike), unless --drop-caches is given and the script runs as
# root, when it is dropped (echo 3 > /proc/sys/vm/drop_caches) after the sync. /usr/bin/time
# measures wall time, user + system CPU time of the step and its children, and peak RSS, which
# for a pipeline is that of its largest process, not the sum. The table shows the medians of
# wall and CPU time, the median wall time over that of tar|gzip -9 for the same tree and
# operation and over that of the tool's peer ("-" where the base took under 0.05 s, too short
# to compare), the median size of what the tool keeps after the step (du -sb of the destination
# folder, archive files or repository; for a restore the restored tree) and the largest peak
# RSS of the repetitions. After the table, the sizes of Kestrel's catalogue, checksum file and
# volumes of the first full compressed backup.
# Every restore is compared with the source: diff -r for names and contents, then the mode and
# the modification time (whole seconds) of every file. The check column says ok, ERR (the tool
# exited non-zero), DIFF (names or contents differ) or META (contents equal, modes or times
# differ), with how many repetitions were affected; kestrel-copy's copies are checked for the
# owner's permission bits only, since a plain copy never carries what the source allowed others.
#
# The scratch folder's file system matters. ext4 without a journal (some VM images) skips, when
# it allocates an inode, every inode of the group freed in the last minutes, reading the
# inode table for each: creating many files right after others were removed (the previous
# step's, the previous repetition's) then costs several times more system time, for every tool,
# by amounts that depend on what was removed when. Use a journaled file system for figures to
# compare, for example a loop file (as root):
#   truncate -s 24G /tmp/j.img && mkfs.ext4 -q /tmp/j.img && mount -o loop /tmp/j.img /mnt/j
#   bench/peers.sh --work /mnt/j
#
# Needs bash, coreutils, awk, tar, gzip and /usr/bin/time (Debian package time); pigz, rsync,
# restic, borg, curl, vsftpd and kestrel-cli are skipped with a notice when missing. --install
# runs apt-get install -y for the missing Debian packages (time, pigz, rsync, restic, borgbackup,
# curl, vsftpd) first; nothing is installed without it. The scratch folder (below --work,
# default /tmp) is removed at the end unless --keep is given. The trees need about four times
# their size free (the million tree about 12 GB: its files take a block each).
set -euo pipefail

script_dir=$(cd "$(dirname "$0")" && pwd)

reps=3
scale=1
tsv_file=
raw_file=
work_parent=${TMPDIR:-/tmp}
keep=0
install=0
drop_caches=0
kestrel_cli=${KESTREL_CLI:-}
trees=mixed,small
tools_wanted=
all_tools=(kestrel-compressed kestrel-copy kestrel-ftp cp tar tar-gzip tar-pigz tar-curl rsync restic borg)
# The tools that run on the million tree.
million_tools=" kestrel-compressed kestrel-copy rsync tar "

usage() {
  sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'
}

die() {
  echo "peers.sh: $*" >&2
  exit 2
}

while (($# > 0)); do
  case $1 in
    --reps) reps=${2:?}; shift 2 ;;
    --scale) scale=${2:?}; shift 2 ;;
    --tsv) tsv_file=${2:?}; shift 2 ;;
    --raw) raw_file=${2:?}; shift 2 ;;
    --work) work_parent=${2:?}; shift 2 ;;
    --kestrel-cli) kestrel_cli=${2:?}; shift 2 ;;
    --trees) trees=${2:?}; shift 2 ;;
    --tools) tools_wanted=${2:?}; shift 2 ;;
    --keep) keep=1; shift ;;
    --install) install=1; shift ;;
    --drop-caches) drop_caches=1; shift ;;
    -h | --help) usage; exit 0 ;;
    *) die "unknown option $1 (see --help)" ;;
  esac
done

[[ $reps =~ ^[1-9][0-9]*$ ]] || die "--reps takes a whole number of at least 1"
awk -v s="$scale" 'BEGIN { exit !(s + 0 > 0 && s + 0 <= 10) }' || die "--scale takes a number in (0, 10]"
for tree in ${trees//,/ }; do
  [[ $tree == mixed || $tree == small || $tree == million ]] ||
    die "unknown tree $tree (mixed, small, million)"
done

# ---------------------------------------------------------------------------------------------
# Tools

install_missing() {
  local packages=() sudo=
  [[ -x /usr/bin/time ]] || packages+=(time)
  command -v pigz >/dev/null || packages+=(pigz)
  command -v rsync >/dev/null || packages+=(rsync)
  command -v restic >/dev/null || packages+=(restic)
  command -v borg >/dev/null || packages+=(borgbackup)
  command -v curl >/dev/null || packages+=(curl)
  [[ -x /usr/sbin/vsftpd ]] || packages+=(vsftpd)
  ((${#packages[@]} > 0)) || return 0
  if ((EUID != 0)); then
    command -v sudo >/dev/null || die "installing ${packages[*]} needs root or sudo"
    sudo=sudo
  fi
  echo "Installing ${packages[*]} ..."
  $sudo apt-get install -y "${packages[@]}" || echo "peers.sh: apt-get install failed; going on without them" >&2
}

((install)) && install_missing

[[ -x /usr/bin/time ]] || die "/usr/bin/time is missing: install the Debian package time (or run with --install)"
command -v tar >/dev/null || die "tar is missing"
command -v gzip >/dev/null || die "gzip is missing"

if [[ -z $kestrel_cli ]]; then
  kestrel_cli=$script_dir/../build-release-g/bin/kestrel-cli
  [[ -x $kestrel_cli ]] || kestrel_cli=$script_dir/../build/bin/kestrel-cli
fi

tool_available() {
  case $1 in
    kestrel-*) [[ -x $kestrel_cli ]] ;;
    kestrel-ftp) [[ -x $kestrel_cli && -x /usr/sbin/vsftpd ]] && ((EUID == 0)) ;;
    cp | tar | tar-gzip) return 0 ;;
    tar-curl) command -v curl >/dev/null && [[ -x /usr/sbin/vsftpd ]] && ((EUID == 0)) ;;
    tar-pigz) command -v pigz >/dev/null ;;
    rsync) command -v rsync >/dev/null ;;
    restic) command -v restic >/dev/null ;;
    borg) command -v borg >/dev/null ;;
    *) return 1 ;;
  esac
}

tools=()
wanted=${tools_wanted:-${all_tools[*]}}
for tool in ${wanted//,/ }; do
  [[ " ${all_tools[*]} " == *" $tool "* ]] || die "unknown tool $tool (${all_tools[*]})"
  if tool_available "$tool"; then
    tools+=("$tool")
  else
    case $tool in
      kestrel-*) echo "Skipping $tool: no kestrel-cli at $kestrel_cli (--kestrel-cli or \$KESTREL_CLI)" ;;
      restic | borg | tar-pigz | rsync) echo "Skipping $tool: not installed (--install gets it)" ;;
      kestrel-ftp | tar-curl) echo "Skipping $tool: needs vsftpd, curl and root (--install gets them)" ;;
    esac
  fi
done
((${#tools[@]} > 0)) || die "no tool to run"

if ((drop_caches)) && ((EUID != 0)); then
  echo "Not root: --drop-caches ignored, the page cache stays warm for every tool"
  drop_caches=0
fi

# ---------------------------------------------------------------------------------------------
# Scratch folder

mkdir -p "$work_parent"
work=$(mktemp -d "$work_parent/kestrel-peers.XXXXXX")
cleanup() {
  if [[ -n ${ftp_pid:-} ]]; then kill "$ftp_pid" 2>/dev/null || true; fi
  if ((keep)); then
    echo "Kept the scratch folder $work"
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

raw=$work/raw.tsv
printf 'tree\ttool\toperation\trep\twall_s\tcpu_s\tpeak_rss_kb\tsize_bytes\tcheck\n' >"$raw"

# ---------------------------------------------------------------------------------------------
# Trees

# Writes a manifest of the tree ("d PATH", "t SIZE PATH" for text, "b SIZE PATH" for binary).
# A fixed seed makes the shape (folders, names, sizes) the same on every run.
make_manifest() {
  local kind=$1 scale=$2
  awk -v kind="$kind" -v scale="$scale" '
    function logu(lo, hi) { return int(exp(log(lo) + rand() * (log(hi) - log(lo)))) }
    BEGIN {
      srand(20240611)
      if (kind == "mixed") {
        nfiles = int(11000 * scale); if (nfiles < 40) nfiles = 40
        ndirs = int(nfiles / 27); if (ndirs < 4) ndirs = 4
        nbig = int(20 * scale + 0.5); if (nbig < 1) nbig = 1
        pbin = 0.35; lo = 100; hi = 128 * 1024; target = 200e6 * scale; maxdepth = 4
      } else if (kind == "small") {
        nfiles = int(100000 * scale); if (nfiles < 100) nfiles = 100
        ndirs = int(nfiles / 100); if (ndirs < 4) ndirs = 4
        nbig = 0; pbin = 0.2; lo = 200; hi = 4096; target = 0; maxdepth = 2
      } else {
        nfiles = int(1000000 * scale); if (nfiles < 1000) nfiles = 1000
        ndirs = int(nfiles / 1000); if (ndirs < 4) ndirs = 4
        nbig = 0; pbin = 0; lo = 20; hi = 400; target = 0; maxdepth = 2
      }
      split("txt c h md csv log xml json html ini", text_ext, " ")
      split("bin jpg png dat zip so pdf mp3", bin_ext, " ")
      # Folders: a quarter at the top, the rest below a random earlier one.
      for (i = 1; i <= ndirs; i++) {
        parent = ""; depth[i] = 1
        if (i > ndirs / 4) {
          j = 1 + int(rand() * (i - 1))
          if (depth[j] < maxdepth) { parent = dir[j] "/"; depth[i] = depth[j] + 1 }
        }
        dir[i] = parent sprintf("d%04d", i)
        print "d", dir[i]
      }
      # Every folder gets one file; the others mostly go to a few folders (index ~ u^3), so
      # folder sizes range from one file to hundreds.
      for (f = 1; f <= nfiles; f++) {
        d = (f <= ndirs) ? f : 1 + int(ndirs * rand() ^ (kind == "million" ? 1 : 3))
        bin = (f <= nbig) || (rand() < pbin)
        size = (f <= nbig) ? logu(1048576, 8388608) : logu(lo, hi)
        if (bin) ext = bin_ext[1 + int(rand() * 8)]; else ext = text_ext[1 + int(rand() * 10)]
        name = sprintf("f%05d.%s", f, ext)
        if (f % 97 == 0) name = sprintf("File %05d (copy).%s", f, ext)
        if (f % 101 == 0) name = sprintf("NOTES%05d", f)
        if (f % 211 == 0) name = sprintf(".hidden%05d", f)
        kindof[f] = bin ? "b" : "t"; sz[f] = size; path[f] = dir[d] "/" name; total += size
      }
      factor = (target > 0) ? target / total : 1
      for (f = 1; f <= nfiles; f++) {
        s = int(sz[f] * factor); if (s < 1) s = 1
        print kindof[f], s, path[f]
      }
    }'
}

# Writes the text files of a manifest: lines drawn from a pool of generated word lines, so the
# text compresses like prose (about 3:1) but does not repeat across files in long runs.
write_text_files() {
  local root=$1
  awk -v root="$root" '
    BEGIN {
      srand(7)
      nw = split("the of and to in is was for on that with as by at from it this be are or " \
        "backup file folder archive volume session restore catalogue job source destination " \
        "size time date copy compress server client network user password schedule daily " \
        "monday friday program window list tree node record value number text line error " \
        "kestrel river stone field market garden winter summer light table chair paper letter",
        word, " ")
      for (i = 0; i < 8192; i++) {
        line = ""; n = 4 + int(rand() * 12)
        for (k = 0; k < n; k++) line = line word[1 + int(rand() * nw)] " "
        if (rand() < 0.3) line = line int(rand() * 100000)
        pool[i] = line
      }
    }
    $1 == "t" {
      size = $2; sub(/^t [0-9]+ /, ""); file = root "/" $0
      written = 0; out = ""
      while (written < size) {
        l = pool[int(rand() * 8192)] "\n"
        if (written + length(l) > size) l = substr(l, 1, size - written)
        out = out l; written += length(l)
        if (length(out) > 65536) { printf "%s", out > file; out = "" }
      }
      printf "%s", out > file
      close(file)
    }'
}

make_tree() {
  local kind=$1 root=$2 manifest=$work/$1.manifest
  make_manifest "$kind" "$scale" >"$manifest"
  mkdir -p "$root"
  (cd "$root" && awk '$1 == "d" { print $2 }' "$manifest" | xargs mkdir -p)
  LC_ALL=C write_text_files "$root" <"$manifest"
  local size path
  while read -r size path; do
    head -c "$size" /dev/urandom >"$root/$path"
  done < <(awk '$1 == "b" { sub(/^b /, ""); print }' "$manifest")
  local files bytes bin_bytes
  files=$(grep -c -v '^d ' "$manifest")
  bytes=$(du -sb "$root" | cut -f1)
  bin_bytes=$(awk '$1 == "b" { s += $2 } END { printf "%.0f", s }' "$manifest")
  # The file restore1 takes: one from the middle of the tree.
  one=$(awk '$1 != "d" { sub(/^[tb] [0-9]+ /, ""); p[++n] = $0 } END { print p[int((n + 1) / 2)] }' "$manifest")
  echo "Tree $kind: $files files in $(grep -c '^d ' "$manifest") folders, $bytes bytes" \
    "(binaries $((bin_bytes * 100 / (bytes > 0 ? bytes : 1))) % of the bytes)"
}

# ---------------------------------------------------------------------------------------------
# Measurement

settle() {
  sync
  if ((drop_caches)); then
    echo 3 >/proc/sys/vm/drop_caches
  fi
}

# Times "$@" and appends one raw row. Globals: tree, tool, rep, cycle. Returns the command's
# exit status.
measure() {
  local op=$1 size_path=$2
  shift 2
  local tf=$cycle/time.$op log=$cycle/log.$op rc=0
  settle
  if [[ $op == restore* ]]; then
    # What a restore leaves in the page cache is part of its cost.
    set -- bash -c '"$@"; rc=$?; sync; exit $rc' _ "$@"
  fi
  /usr/bin/time -f '%e %U %S %M' -o "$tf" "$@" >"$log" 2>&1 || rc=$?
  local wall user sys rss size=0
  read -r wall user sys rss < <(tail -n 1 "$tf") || true
  [[ -e $size_path ]] && size=$(du -sb "$size_path" | cut -f1)
  local check=ok
  if ((rc != 0)); then
    check=ERR
    echo "  $tool $op failed (exit $rc); the last lines of its output:" >&2
    tail -n 5 "$log" | sed 's/^/    /' >&2
  fi
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$tree" "$tool" "$op" "$rep" "$wall" \
    "$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')" "$rss" "$size" "$check" >>"$raw"
  return "$rc"
}

# Prints ok, DIFF or META for a copy of a tree.
compare_trees() {
  local src=$1 dst=$2
  if ! diff -r -q "$src" "$dst" >"$cycle/diff" 2>&1; then
    echo "  $tool: restored tree differs from the source ($(wc -l <"$cycle/diff") entries," \
      "first: $(head -n 1 "$cycle/diff"))" >&2
    echo DIFF
    return
  fi
  # Plain copies keep the owner's bits only: what the source allowed others never travels.
  local list='%P\t%m\t%T@\n' owner=0
  [[ $tool == kestrel-copy ]] && owner=1
  (cd "$src" && find . -type f -printf "$list" | awk -F'\t' -v o="$owner" '{ sub(/\..*/, "", $3); if (o) $2 = substr($2, 1, length($2) - 2); print }' OFS='\t' | sort) >"$cycle/meta.src"
  (cd "$dst" && find . -type f -printf "$list" | awk -F'\t' -v o="$owner" '{ sub(/\..*/, "", $3); if (o) $2 = substr($2, 1, length($2) - 2); print }' OFS='\t' | sort) >"$cycle/meta.dst"
  if ! cmp -s "$cycle/meta.src" "$cycle/meta.dst"; then
    echo "  $tool: contents equal, modes or times differ, first:" \
      "$(diff "$cycle/meta.src" "$cycle/meta.dst" | grep '^>' | head -n 1)" >&2
    echo META
    return
  fi
  echo ok
}

# Prints ok, DIFF or META for a restored copy of the file $one.
compare_one() {
  local copy=$1
  if ! cmp -s "$src/$one" "$copy"; then
    echo "  $tool: the restored $one differs from the source or is missing" >&2
    echo DIFF
  elif [[ $(stat -c '%a %Y' "$src/$one") != $(stat -c '%a %Y' "$copy") ]]; then
    echo "  $tool: the restored $one has another mode or time" >&2
    echo META
  else
    echo ok
  fi
}

# Records a set-up step that failed as a failed full backup, so that the table shows it.
setup_failed() {
  echo "  $tool: $1 failed; the last lines of its output:" >&2
  tail -n 5 "$cycle/log.setup" | sed 's/^/    /' >&2
  printf '%s\t%s\tfull\t%s\t0\t0\t0\t0\tERR\n' "$tree" "$tool" "$rep" >>"$raw"
}

# Marks the check of the last raw row.
set_last_check() {
  local check=$1
  [[ $check == ok ]] && return 0
  awk -F'\t' -v c="$check" 'BEGIN { OFS = "\t" } { line[NR] = $0 }
    END { for (i = 1; i < NR; i++) print line[i]; $0 = line[NR]; if ($9 == "ok") $9 = c; print }' \
    "$raw" >"$raw.new"
  mv "$raw.new" "$raw"
}

# One tool's full backup, unchanged second backup and restore of the tree at $src.
# The bash -c scripts take their arguments as $1... on purpose.
# shellcheck disable=SC2016
run_cycle() {
  local src=$1
  local dest=$cycle/dest res=$cycle/restore res1=$cycle/restore1
  mkdir -p "$dest" "$res" "$res1"
  case $tool in
    kestrel-compressed | kestrel-copy)
      local storage=compressed k=("$kestrel_cli" --home "$cycle/home")
      [[ $tool == kestrel-copy ]] && storage=copy
      "${k[@]}" new --name bench --source "$src" --dest "$dest" --storage "$storage" \
        --type incremental >"$cycle/log.setup" 2>&1 || { setup_failed "kestrel-cli new"; return 0; }
      measure full "$dest" "${k[@]}" run bench || return 0
      if [[ $tool == kestrel-copy ]]; then
        set_last_check "$(compare_trees "$src" "$dest/$src")"
        measure second "$dest" "${k[@]}" run bench || true
        set_last_check "$(compare_trees "$src" "$dest/$src")"
      else
        ((rep == 1)) && set_sizes "$dest"
        measure second "$dest" "${k[@]}" run bench || true
        measure restore "$res" "${k[@]}" restore bench --to "$res" "$src" &&
          set_last_check "$(compare_trees "$src" "$res/$src")"
        measure restore1 "$res1" "${k[@]}" restore bench --to "$res1" "$src/$one" &&
          set_last_check "$(compare_one "$res1/$src/$one")"
      fi
      ;;
    kestrel-ftp)
      local k=("$kestrel_cli" --home "$cycle/home")
      rm -rf "${ftp_upload:?}"/*
      "${k[@]}" new --name bench --source "$src" --dest /upload --ftp 127.0.0.1 --ftp-port "$ftp_port" \
        --storage archive --type full >"$cycle/log.setup" 2>&1 || { setup_failed "kestrel-cli new"; return 0; }
      measure full "$ftp_upload" "${k[@]}" run bench || true
      rm -rf "${ftp_upload:?}"/*
      ;;
    tar-curl)
      rm -rf "${ftp_upload:?}"/*
      measure full "$ftp_upload" bash -c 'set -o pipefail; tar -C "$1" -cf - . | curl -sS -T - "$2"' \
        _ "$src" "ftp://127.0.0.1:$ftp_port/upload/bench.tar" || true
      rm -rf "${ftp_upload:?}"/*
      ;;
    cp)
      measure full "$dest" cp -a "$src" "$dest/tree" &&
        set_last_check "$(compare_trees "$src" "$dest/tree")"
      ;;
    tar | tar-gzip | tar-pigz)
      local z=cat x=tar
      [[ $tool == tar-gzip ]] && z=gzip x=tar.gz
      [[ $tool == tar-pigz ]] && z=pigz x=tar.gz
      local zip='"$4" -9' unzip='"$3" -dc'
      [[ $z == cat ]] && zip='"$4"' unzip='"$3"'
      measure full "$dest" bash -c "set -o pipefail; tar -C \"\$1\" -g \"\$2/level0.snar\" -cf - . | $zip >\"\$3\"" \
        _ "$src" "$dest" "$dest/level0.$x" "$z" || return 0
      measure second "$dest" bash -c "set -o pipefail; cp \"\$2/level0.snar\" \"\$2/level1.snar\" &&
        tar -C \"\$1\" -g \"\$2/level1.snar\" -cf - . | $zip >\"\$3\"" \
        _ "$src" "$dest" "$dest/level1.$x" "$z" || return 0
      measure restore "$res" bash -c "set -o pipefail; for a in \"\$2\"/level0.$x \"\$2\"/level1.$x; do
        $unzip \"\$a\" | tar -C \"\$1\" -g /dev/null -xf - || exit 1; done" _ "$res" "$dest" "$z" &&
        set_last_check "$(compare_trees "$src" "$res")"
      measure restore1 "$res1" bash -c "set -o pipefail; $unzip \"\$2/level0.$x\" | tar -C \"\$1\" -xf - \"./\$4\"" \
        _ "$res1" "$dest" "$z" "$one" &&
        set_last_check "$(compare_one "$res1/$one")"
      ;;
    rsync)
      measure full "$dest" rsync -a "$src/" "$dest/tree/" || return 0
      measure second "$dest" rsync -a "$src/" "$dest/tree/" || true
      measure restore "$res" rsync -a "$dest/tree/" "$res/" &&
        set_last_check "$(compare_trees "$src" "$res")"
      measure restore1 "$res1" rsync -a "$dest/tree/$one" "$res1/" &&
        set_last_check "$(compare_one "$res1/${one##*/}")"
      ;;
    restic)
      local r=(env RESTIC_PASSWORD_FILE="$cycle/password" RESTIC_CACHE_DIR="$cycle/cache" restic -r "$dest/repo")
      echo "peers-benchmark" >"$cycle/password"
      "${r[@]}" init >"$cycle/log.setup" 2>&1 || { setup_failed "restic init"; return 0; }
      measure full "$dest/repo" bash -c 'cd "$1" && shift && "$@" backup -q .' _ "$src" "${r[@]}" || return 0
      measure second "$dest/repo" bash -c 'cd "$1" && shift && "$@" backup -q .' _ "$src" "${r[@]}" || true
      measure restore "$res" "${r[@]}" restore latest -q --target "$res" &&
        set_last_check "$(compare_trees "$src" "$res")"
      measure restore1 "$res1" "${r[@]}" restore latest -q --target "$res1" --include "/$one" &&
        set_last_check "$(compare_one "$res1/$one")"
      ;;
    borg)
      local b=(env BORG_BASE_DIR="$cycle/borg" BORG_UNKNOWN_UNENCRYPTED_REPO_ACCESS_IS_OK=yes
        BORG_RELOCATED_REPO_ACCESS_IS_OK=yes borg)
      "${b[@]}" init --encryption none "$dest/repo" >"$cycle/log.setup" 2>&1 ||
        { setup_failed "borg init"; return 0; }
      measure full "$dest/repo" bash -c 'cd "$1" && shift && "$@" .' _ "$src" "${b[@]}" create "$dest/repo::full" || return 0
      measure second "$dest/repo" bash -c 'cd "$1" && shift && "$@" .' _ "$src" "${b[@]}" create "$dest/repo::second" || true
      measure restore "$res" bash -c 'cd "$1" && shift && "$@"' _ "$res" "${b[@]}" extract "$dest/repo::second" &&
        set_last_check "$(compare_trees "$src" "$res")"
      measure restore1 "$res1" bash -c 'cd "$1" && shift && "$@"' _ "$res1" "${b[@]}" extract "$dest/repo::second" "$one" &&
        set_last_check "$(compare_one "$res1/$one")"
      ;;
  esac
  return 0
}

# Notes the sizes of Kestrel's set (volumes, catalogue, checksum file, the rest) for the report.
set_sizes() {
  local dest=$1
  (cd "$dest" && find . -maxdepth 1 -type f -printf '%f\t%s\n') | awk -F'\t' -v tree="$tree" '
    $1 ~ /\.uxarc$/ { v += $2; nv++; next }
    $1 == "bench.fs" { c += $2; next }
    $1 == "bench.fs.sums" { k += $2; next }
    { o += $2 }
    END { printf "%s\t%d\t%.0f\t%.0f\t%.0f\t%.0f\n", tree, nv, v, c, k, o }' >>"$sizes"
}

# ---------------------------------------------------------------------------------------------
# Report

# Prints the table of one tree and appends its rows to the summary TSV.
report() {
  local tree=$1 summary=$2
  awk -F'\t' -v tree="$tree" -v order="${tools[*]}" -v summary="$summary" '
    function median(key,   n, i, j, t, v) {
      n = cnt[key]
      for (i = 1; i <= n; i++) v[i] = vals[key, i]
      for (i = 2; i <= n; i++) { t = v[i]; for (j = i - 1; j >= 1 && v[j] > t; j--) v[j + 1] = v[j]; v[j + 1] = t }
      return (n % 2) ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
    }
    function mb(b) { return (b >= 1e9) ? sprintf("%.2f GB", b / 1e9) : sprintf("%.1f MB", b / 1e6) }
    NR > 1 && $1 == tree {
      k = $2 SUBSEP $3; seen[k] = 1; n = ++runs[k]
      cnt[k "w"] = n; vals[k "w", n] = $5 + 0
      cnt[k "c"] = n; vals[k "c", n] = $6 + 0
      cnt[k "s"] = n; vals[k "s", n] = $8 + 0
      if ($7 + 0 > rss[k]) rss[k] = $7 + 0
      if ($9 != "ok") { bad[k] = $9; nbad[k]++ }
    }
    END {
      nt = split(order, tool, " "); nop = split("full second restore restore1", op, " ")
      peer["kestrel-copy" SUBSEP "full"] = "cp"
      peer["kestrel-copy" SUBSEP "second"] = "rsync"
      peer["kestrel-compressed" SUBSEP "second"] = "rsync"
      peer["kestrel-compressed" SUBSEP "restore"] = "tar"
      peer["kestrel-compressed" SUBSEP "restore1"] = "tar"
      peer["kestrel-ftp" SUBSEP "full"] = "tar-curl"
      printf "\n%s tree\n", tree
      printf "%-19s %-8s %9s %9s %9s %14s %11s %9s  %s\n", "tool", "op", "wall s", "cpu s", "wall/tgz", "wall/peer", "size", "peak RSS", "check"
      for (o = 1; o <= nop; o++) {
        base = (("tar-gzip" SUBSEP op[o]) in seen) ? median("tar-gzip" SUBSEP op[o] "w") : 0
        for (t = 1; t <= nt; t++) {
          k = tool[t] SUBSEP op[o]
          if (!(k in seen)) {
            if (tool[t] == "kestrel-copy" && op[o] == "restore")
              printf "%-19s %-8s %9s %9s %9s %14s %11s %9s  %s\n", tool[t], op[o], "-", "-", "-", "-", "-", "-", "n/a (the copies are the backup)"
            continue
          }
          w = median(k "w"); c = median(k "c"); s = median(k "s")
          # /usr/bin/time counts in hundredths: a ratio to a baseline this short says nothing.
          ratio = (base >= 0.05) ? sprintf("%.2f", w / base) : "-"
          pr = "-"
          if (k in peer) {
            pk = peer[k] SUBSEP op[o]
            if (pk in seen && median(pk "w") >= 0.05) pr = sprintf("%.2f %s", w / median(pk "w"), peer[k])
          }
          check = (k in bad) ? sprintf("%s %d/%d", bad[k], nbad[k], runs[k]) : "ok"
          printf "%-19s %-8s %9.2f %9.2f %9s %14s %11s %7.0f MB  %s\n", tool[t], op[o], w, c, ratio, pr, mb(s), rss[k] / 1024, check
          printf "%s\t%s\t%s\t%d\t%.2f\t%.2f\t%s\t%s\t%.0f\t%d\t%s\n", tree, tool[t], op[o], runs[k], w, c, ratio, pr, s, rss[k], check >> summary
        }
      }
    }' "$raw"
  awk -F'\t' -v tree="$tree" '$1 == tree {
      n = $3 + $4 + $5 + $6
      printf "Kestrel'"'"'s compressed set after the full backup: %d volumes %.1f MB, catalogue %.1f MB, checksum file %.1f MB, other %.1f MB\n", $2, $3 / 1e6, $4 / 1e6, $5 / 1e6, $6 / 1e6
      if (files > 0) printf "  per file: catalogue %.0f B, checksum file %.0f B\n", $4 / files, $5 / files
      exit
    }' files="$files_in_tree" "$sizes"
}

# ---------------------------------------------------------------------------------------------
# FTP server

ftp_port=
ftp_upload=
ftp_pid=

# Starts an anonymous vsftpd on the loopback for kestrel-ftp and tar-curl, which write into its
# upload folder.
start_ftp_server() {
  [[ " ${tools[*]} " == *" kestrel-ftp "* || " ${tools[*]} " == *" tar-curl "* ]] || return 0
  local dir=$work/ftp
  mkdir -p "$dir/root/upload" "$dir/empty"
  chmod 755 "$work" "$dir" "$dir/root"
  chmod 777 "$dir/root/upload"
  ftp_upload=$dir/root/upload
  ftp_port=$((20000 + RANDOM % 20000))
  cat >"$dir/vsftpd.conf" <<CONF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$ftp_port
background=NO
anonymous_enable=YES
local_enable=NO
write_enable=YES
anon_upload_enable=YES
anon_mkdir_write_enable=YES
anon_other_write_enable=YES
anon_root=$dir/root
anon_umask=022
no_anon_password=YES
ftp_username=daemon
nopriv_user=daemon
secure_chroot_dir=$dir/empty
pasv_enable=YES
pasv_min_port=$((ftp_port + 1))
pasv_max_port=$((ftp_port + 40))
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
xferlog_enable=NO
CONF
  /usr/sbin/vsftpd "$dir/vsftpd.conf" >"$dir/log" 2>&1 &
  ftp_pid=$!
  local tries=0
  until curl -s -o /dev/null "ftp://127.0.0.1:$ftp_port/"; do
    ((++tries < 50)) || die "vsftpd did not start (see $dir/log)"
    sleep 0.1
  done
  echo "vsftpd on 127.0.0.1:$ftp_port"
}

# ---------------------------------------------------------------------------------------------
# Main

echo "Kestrel peer benchmark: reps $reps, scale $scale, tools ${tools[*]}"
echo "Scratch folder $work; load:$(uptime | sed 's/.*load average://')"
echo "Page cache: $( ((drop_caches)) && echo 'dropped before each step' || echo 'warm (sync before each step)')"
[[ " ${tools[*]} " == *" kestrel-"* ]] && echo "kestrel-cli: $kestrel_cli"

summary=$work/summary.tsv
printf 'tree\ttool\toperation\treps\twall_median_s\tcpu_median_s\twall_ratio_tar_gzip\twall_ratio_peer\tsize_bytes\tpeak_rss_kb\tcheck\n' >"$summary"
sizes=$work/sizes.tsv
: >"$sizes"
start_ftp_server

for tree in ${trees//,/ }; do
  src=$work/src-$tree
  echo
  make_tree "$tree" "$src"
  files_in_tree=$(grep -c -v '^d ' "$work/$tree.manifest")
  need=$(($(du -sk "$src" | cut -f1) * 3))
  free=$(df -Pk "$work" | awk 'NR == 2 { print $4 }')
  ((free > need)) || echo "Warning: $free KB free in $work, a cycle may need $need KB" >&2
  for ((rep = 1; rep <= reps; rep++)); do
    echo "Repetition $rep/$reps of the $tree tree"
    n=${#tools[@]}
    for ((i = 0; i < n; i++)); do
      tool=${tools[$(((i + rep - 1) % n))]}
      [[ $tree != million || $million_tools == *" $tool "* ]] || continue
      cycle=$work/run/$tree-$tool-$rep
      mkdir -p "$cycle"
      printf '  %s\n' "$tool"
      run_cycle "$src"
      rm -rf "$cycle"
    done
  done
  report "$tree" "$summary"
  rm -rf "$src"
done

if [[ -n $tsv_file ]]; then
  cp "$summary" "$tsv_file"
  echo
  echo "Summary written to $tsv_file"
fi
if [[ -n $raw_file ]]; then
  cp "$raw" "$raw_file"
  echo "Every measurement written to $raw_file"
fi
