#!/usr/bin/env bash
# Builds the Debian package from a build folder and checks it as Debian and
# a lab's administrator would.
#
#   check_package.sh BUILD_DIR
#       builds BUILD_DIR/package-check/kovra610_*.deb and checks it: its
#       files and control data, lintian, the hardening of its programs, its
#       manual pages, every shell file of the source tree, the completion in
#       an interactive bash, kovra610-launch, and the packaged kovra610-cli
#       and Python client run from the unpacked tree on the virtual board
#   check_package.sh BUILD_DIR install
#       installs that package with apt into a throw-away copy of this
#       machine's root (an overlay in a mount namespace of its own, so the
#       machine itself is left as it is), uses it, purges it, and checks
#       that nothing of it is left. Needs root; exits 77 (skipped) without.
set -euo pipefail
build=$(cd "$1" && pwd)
src=$(cd "$(dirname "$0")/../.." && pwd)
mode=${2:-check}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail=0
failed() { echo "$*"; fail=1; }

if [ "$mode" = install ]; then
    deb=$(echo "$build"/package-check/kovra610_*.deb)
    [ -f "$deb" ] || { echo "no package in $build/package-check"; exit 1; }
    if [ "$(id -u)" -ne 0 ]; then
        echo "skipped: installing and purging the package needs root"
        exit 77
    fi
    # The overlay's upper layer (a tmpfs) collects every file the package
    # and its maintainer scripts write; dpkg and apt see this machine's
    # packages, so the package's dependencies are already there.
    if ! unshare --mount true 2>/dev/null; then
        echo "skipped: no mount namespace may be made here"
        exit 77
    fi
    cp "$deb" "$scratch/kovra610.deb"
    status=0
    unshare --mount --propagation private bash -s "$scratch" >"$scratch/log" 2>&1 <<'EOF' ||
set -euo pipefail
s=$1
mkdir "$s/mnt"
mount -t tmpfs kovra610-check "$s/mnt" || exit 77
mkdir "$s/mnt/upper" "$s/mnt/work" "$s/mnt/root"
mount -t overlay kovra610-check -o "lowerdir=/,upperdir=$s/mnt/upper,workdir=$s/mnt/work" \
    "$s/mnt/root" || exit 77
root=$s/mnt/root
[ -s "$root/var/lib/dpkg/status" ] || { echo "/var is not on the root file system"; exit 77; }
mount --rbind /dev "$root/dev"
mount -t proc proc "$root/proc"
mount -t tmpfs tmp "$root/tmp"
mkdir "$root/tmp/work"
cp "$s/kovra610.deb" "$root/tmp/"
# An administrator's root shell: the system's own Python, not one found
# first on the caller's PATH.
chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    /bin/bash -euo pipefail -c '
    export DEBIAN_FRONTEND=noninteractive
    if dpkg-query -W -f="\${Status}" kovra610 2>/dev/null | grep -q "ok installed"; then
        apt-get purge -y -q kovra610 >/dev/null
    fi
    apt-get install -y -q --no-install-recommends /tmp/kovra610.deb
    ls /usr/lib/python3/dist-packages/kovra610/__pycache__/__init__.*.pyc >/dev/null ||
        { echo "the Python client was not byte-compiled on install"; exit 1; }
    # Root imports the client after its byte-compiled files are gone, as a
    # Python without them would, and so writes them anew.
    rm -rf /usr/lib/python3/dist-packages/kovra610/__pycache__
    cd /tmp/work
    mkdir Dac && cp /usr/share/kovra610/kovra610_defaults.sbus Dac/
    QT_QPA_PLATFORM=offscreen KOVRA610_BOARD=virtual kovra610-cli --json read 1 0x19 |
        grep -q "\"addr\":25" || { echo "the installed kovra610-cli read nothing"; exit 1; }
    QT_QPA_PLATFORM=offscreen python3 -c "
import kovra610
with kovra610.Session(board=\"virtual\", cwd=\"/tmp/work\") as bench:
    bench.read(1, 0x19)
"
    [ -d /usr/lib/python3/dist-packages/kovra610/__pycache__ ] ||
        { echo "importing as root wrote no byte-compiled files; nothing to clean up"; exit 1; }
    apt-get purge -y -q kovra610
    if python3 -c "import kovra610" 2>/dev/null; then
        echo "import kovra610 still works after purge"; exit 1
    fi
    ! dpkg-query -W -f="\${Status}\n" kovra610 2>/dev/null | grep -q "ok installed" ||
        { echo "dpkg still lists kovra610"; exit 1; }
'
# What the package and its scripts left: every file, link or folder the
# overlay gained that was not there before, outside the package system's
# own records, logs and caches (files that were there and changed, such as
# a cache a trigger rebuilt, are not the package's).
cd "$s/mnt/upper"
find . -mindepth 1 \( -path ./var/lib/dpkg -o -path ./var/lib/apt -o -path ./var/log \
    -o -path ./var/cache -o -path ./tmp -o -path ./dev -o -path ./proc \) -prune -o \
    ! -type c -print | while read -r path; do
    [ -e "/$path" ] || [ -L "/$path" ] || echo "left after purge: ${path#.}"
done | grep . && exit 1
exit 0
EOF
    status=$?
    if [ $status -eq 77 ]; then
        echo "skipped: no overlay in a mount namespace here:"; cat "$scratch/log"; exit 77
    fi
    [ $status -eq 0 ] || { cat "$scratch/log"; echo "install, use and purge failed"; }
    exit $status
fi

mkdir -p "$build/package-check"
rm -f "$build"/package-check/kovra610_*.deb
cpack --config "$build/CPackConfig.cmake" -B "$build/package-check" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log"; exit 1; }
deb=$(echo "$build"/package-check/kovra610_*.deb)
dpkg-deb -c "$deb" | awk '{ $1=$2=$3=$4=$5=""; sub(/^ +/, ""); print }' >"$scratch/files"

expect() {
    grep -qxF -- "$1" "$scratch/files" || failed "missing from the package: $1"
}
expect "./usr/lib/kovra610/kovra610"
expect "./usr/lib/kovra610/kovra610-cli"
expect "./usr/lib/kovra610/kovra610-launch"
expect "./usr/lib/kovra610/kovra610 evaluation board uir.uir"
expect "./usr/lib/kovra610/kovra610_board.png"
expect "./usr/bin/kovra610 -> ../lib/kovra610/kovra610"
expect "./usr/bin/kovra610-cli -> ../lib/kovra610/kovra610-cli"
expect "./usr/bin/kovra610-launch -> ../lib/kovra610/kovra610-launch"
expect "./usr/share/kovra610/kovra610_defaults.sbus"
expect "./usr/lib/udev/rules.d/99-kovra610-ftdi.rules"
expect "./usr/share/applications/kovra610.desktop"
expect "./usr/share/man/man1/kovra610.1.gz"
expect "./usr/share/man/man1/kovra610-cli.1.gz"
expect "./usr/share/man/man1/kovra610-launch.1.gz"
expect "./usr/share/bash-completion/completions/kovra610-cli"
expect "./usr/share/doc/kovra610/copyright"
expect "./usr/share/doc/kovra610/changelog.gz"
expect "./usr/lib/python3/dist-packages/kovra610/__init__.py"
grep -qE '^\./usr/share/(icons/hicolor/[0-9]+x[0-9]+/apps|pixmaps)/kovra610\.png$' \
    "$scratch/files" || failed "missing from the package: the icon kovra610.png"

depends=$(dpkg-deb -f "$deb" Depends)
for p in libc6 libstdc++6 libqt6widgets6 libqt6uitools6 libftdi1-2 libusb-1.0-0; do
    case ", $depends" in
        *", $p "* | *", $p,"* | *", $p") ;;
        *) failed "Depends lacks $p: $depends" ;;
    esac
done
maintainer=$(dpkg-deb -f "$deb" Maintainer)
if [[ $maintainer != *"<"?*@?*.?*">" || $maintainer == *@localhost* ]]; then
    failed "no maintainer address: $maintainer"
fi

# lintian: nothing at the default level, and nothing at the informational
# level either beyond what the package's overrides name.
# (lintian's status is 1 when it found an error, 2 when it could not check.)
status=0
lintian --display-info "$deb" 2>"$scratch/lintian.err" >"$scratch/lintian" || status=$?
if [ $status -gt 1 ]; then
    cat "$scratch/lintian.err"; failed "lintian could not check the package"
elif grep -E '^[EWI]: ' "$scratch/lintian"; then
    failed "lintian found the above"
fi

dpkg-deb -x "$deb" "$scratch/root"
root=$scratch/root
gzip -dc "$root/usr/share/doc/kovra610/changelog.gz" >"$scratch/changelog"
changelog_version=$(dpkg-parsechangelog -l "$scratch/changelog" -S Version)
[ "$changelog_version" = "$(dpkg-deb -f "$deb" Version)" ] ||
    failed "the changelog's last entry is $changelog_version, the package $(dpkg-deb -f "$deb" Version)"

# The programs carry Debian's hardening: PIE, stack protector, fortified
# functions, relro and bind-now. Debian 12's dpkg-buildflags asks for no
# control-flow protection, so that is not required.
hardening-check --nocfprotection "$root/usr/lib/kovra610/kovra610" \
    "$root/usr/lib/kovra610/kovra610-cli" >"$scratch/hardening" ||
    { cat "$scratch/hardening"; failed "the programs lack hardening"; }

# The manual pages: mandoc finds nothing, and kovra610-cli(1) names every
# sub-command of the tool's own --help.
man_dir=$root/usr/share/man/man1
for page in "$man_dir"/*.1.gz; do
    mandoc -T lint "$page" >&2 || failed "mandoc -T lint: $page"
done
MANWIDTH=200 man -l "$man_dir/kovra610-cli.1.gz" 2>/dev/null >"$scratch/man.txt"
"$root/usr/bin/kovra610-cli" --help |
    sed -n '/^Sub-commands:/,/^$/s/^  \([a-z-]\+\) .*/\1/p' >"$scratch/commands"
[ -s "$scratch/commands" ] || failed "no sub-commands in kovra610-cli --help"
while read -r command; do
    grep -qE "^ {7}$command( |$)" "$scratch/man.txt" ||
        failed "kovra610-cli(1) lacks the sub-command $command"
done <"$scratch/commands"

# Every shell file of the source tree passes shellcheck: scripts with a
# shell's #! line, the maintainer scripts and the completion.
cd "$src"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -co --exclude-standard
else
    find . -name 'build*' -prune -o -type f -print
fi | while read -r file; do
    [ -f "$file" ] || continue
    case $file in *.bash-completion) echo "$file"; continue ;; esac
    if head -n1 "$file" | grep -qE '^#!.*[/ ](ba|da)?sh( |$)'; then echo "$file"; fi
done >"$scratch/shell-files"
[ -s "$scratch/shell-files" ] || failed "no shell files found in $src"
grep -v '\.bash-completion$' "$scratch/shell-files" | xargs -d '\n' shellcheck ||
    failed "shellcheck found the above"
grep '\.bash-completion$' "$scratch/shell-files" | xargs -d '\n' shellcheck -s bash ||
    failed "shellcheck found the above"
cd - >/dev/null

# The completion in an interactive bash with bash-completion, as typed: a
# sub-command, and a setup file whose name holds blanks, whole, both from
# its start and from part of it typed with an escaped blank. Each line is
# completed with Tab, then handed to printf, which prints its words.
mkdir -p "$scratch/typed/Dac"
touch "$scratch/typed/Dac/lot7 as set.sbus" "$scratch/typed/Dac/lot8.sbus"
python3 - "$root/usr/share/bash-completion/completions/kovra610-cli" "$scratch/typed" \
    >"$scratch/completed" <<'EOF' || failed "the completion could not be run in bash"
import os, pty, select, sys, time
completion, folder = sys.argv[1:]
pid, fd = pty.fork()
if pid == 0:
    os.chdir(folder)
    os.execvpe("bash", ["bash", "--norc", "--noprofile", "-i"],
               dict(os.environ, PS1="$ ", TERM="dumb", INPUTRC="/dev/null",
                    PATH=os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(
                        completion)))) + "/bin:" + os.environ["PATH"]))
typed = ["kovra610-cli le", "kovra610-cli load Dac/lot7", "kovra610-cli --json save Dac/lot7\\ a",
         "kovra610-cli get drvf", "kovra610-cli set PMUPOWER PMU\\ St"]
keys = ["source /usr/share/bash-completion/bash_completion; source '%s'\n" % completion]
keys += ["%s\t\x01printf '<%%s>\\n' \x05\n" % line for line in typed] + ["exit\n"]
os.write(fd, "".join(keys).encode())
out, deadline = b"", time.time() + 20
while time.time() < deadline:
    if select.select([fd], [], [], 0.2)[0]:
        try:
            data = os.read(fd, 4096)
        except OSError:
            break
        if not data:
            break
        out += data
sys.stdout.write(out.decode(errors="replace").replace("\r", ""))
EOF
if [ "$(grep -cxF "<level>" "$scratch/completed")" -ne 1 ] ||
    [ "$(grep -cxF "<Dac/lot7 as set.sbus>" "$scratch/completed")" -ne 2 ] ||
    [ "$(grep -cxF "<DRVFORCE>" "$scratch/completed")" -ne 1 ] ||
    [ "$(grep -cxF "<PMU Standby FP>" "$scratch/completed")" -ne 1 ]; then
    cat "$scratch/completed"
    failed "the completion did not give \"level\" once, \"Dac/lot7 as set.sbus\" whole twice," \
        "the field DRVFORCE and the caption \"PMU Standby FP\" whole"
fi

# kovra610-launch: a first start gives ~/kovra610 its Dac/ and the default
# setup file; a default file the operator changed stays; a link to a file
# that is gone is replaced by the default setup file, and it says so.
# (--version lets the panel answer and end at once.)
launch() {
    HOME="$scratch/home" "$root/usr/bin/kovra610-launch" --version >/dev/null 2>"$scratch/launch.err"
}
defaults=$scratch/home/kovra610/Dac/kovra610_defaults.sbus
launch || failed "kovra610-launch failed: $(cat "$scratch/launch.err")"
cmp -s "$defaults" "$root/usr/share/kovra610/kovra610_defaults.sbus" ||
    failed "kovra610-launch did not set up ~/kovra610/Dac"
echo "the operator's own" >"$defaults"
if ! launch || [ "$(cat "$defaults")" != "the operator's own" ]; then
    failed "kovra610-launch overwrote a default setup file the operator changed"
fi
rm "$defaults" && ln -s "$scratch/lost/setup.sbus" "$defaults"
if ! launch; then
    failed "kovra610-launch stopped at a dangling link: $(cat "$scratch/launch.err")"
elif [ -L "$defaults" ] || ! cmp -s "$defaults" "$root/usr/share/kovra610/kovra610_defaults.sbus"; then
    failed "kovra610-launch did not replace a dangling link with the default setup file"
elif ! grep -qF "$scratch/lost/setup.sbus" "$scratch/launch.err"; then
    failed "kovra610-launch replaced a dangling link without saying so"
fi
grep -q '^Exec=kovra610-launch$' "$root/usr/share/applications/kovra610.desktop" ||
    failed "the desktop entry does not run kovra610-launch"

# The packaged kovra610-cli runs from where it is unpacked, and the Python
# client imports from where the package puts it.
mkdir -p "$scratch/work/Dac"
cp "$root/usr/share/kovra610/kovra610_defaults.sbus" "$scratch/work/Dac/"
if ! (cd "$scratch/work" && env -u DISPLAY -u QT_QPA_PLATFORM KOVRA610_BOARD=virtual \
    "$root/usr/bin/kovra610-cli" --json read 1 0x19 >"$scratch/read.json" 2>"$scratch/read.err"); then
    failed "the packaged kovra610-cli failed: $(cat "$scratch/read.err")"
elif ! grep -q '"addr":25' "$scratch/read.json"; then
    failed "the packaged kovra610-cli read nothing: $(cat "$scratch/read.json")"
fi
PYTHONPATH="$root/usr/lib/python3/dist-packages" python3 -c \
    'import kovra610; assert issubclass(kovra610.Error, Exception); kovra610.Session' ||
    failed "the packaged Python client does not import"

exit $fail
