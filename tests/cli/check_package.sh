#!/usr/bin/env bash
# Builds the Debian package from a build folder and checks it: its file list,
# its control data (dependencies, maintainer, maintainer scripts), its manual
# pages and completion, and that the packaged kovra610-cli and Python client
# run from the unpacked tree on the virtual board.
#   check_package.sh BUILD_DIR
set -euo pipefail
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log"; exit 1; }
deb=$(ls "$scratch"/out/kovra610_*.deb)
dpkg-deb -c "$deb" | awk '{ $1=$2=$3=$4=$5=""; sub(/^ +/, ""); print }' >"$scratch/files"

fail=0
expect() {
    if ! grep -qxF -- "$1" "$scratch/files"; then
        echo "missing from the package: $1"
        fail=1
    fi
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
expect "./usr/share/bash-completion/completions/kovra610-cli"
expect "./usr/share/doc/kovra610/copyright"
expect "./usr/lib/python3/dist-packages/kovra610/__init__.py"
if ! grep -qE '^\./usr/share/(icons/hicolor/[0-9]+x[0-9]+/apps|pixmaps)/kovra610\.png$' \
    "$scratch/files"; then
    echo "missing from the package: the icon kovra610.png"
    fail=1
fi

depends=$(dpkg-deb -f "$deb" Depends)
for p in libc6 libstdc++6 libqt6widgets6 libqt6uitools6 libftdi1-2 libusb-1.0-0; do
    case ", $depends" in
        *", $p "* | *", $p,"* | *", $p") ;;
        *) echo "Depends lacks $p: $depends"; fail=1 ;;
    esac
done
maintainer=$(dpkg-deb -f "$deb" Maintainer)
if [[ $maintainer != *"<"?*@?*.?*">" || $maintainer == *@localhost* ]]; then
    echo "no maintainer address: $maintainer"; fail=1
fi
for script in postinst postrm; do
    dpkg-deb -I "$deb" $script >"$scratch/$script" 2>/dev/null || { echo "no $script"; fail=1; }
done
grep -q 'udevadm control --reload-rules' "$scratch/postrm" ||
    { echo "postrm does not reload the udev rules"; fail=1; }

# The packaged programs run from where they are unpacked.
dpkg-deb -x "$deb" "$scratch/root"
mkdir -p "$scratch/work/Dac"
cp "$scratch/root/usr/share/kovra610/kovra610_defaults.sbus" "$scratch/work/Dac/"
if ! (cd "$scratch/work" && env -u DISPLAY -u QT_QPA_PLATFORM KOVRA610_BOARD=virtual \
    "$scratch/root/usr/bin/kovra610-cli" --json read 1 0x19 >"$scratch/read.json" 2>"$scratch/read.err"); then
    echo "the packaged kovra610-cli failed:"; cat "$scratch/read.err"; fail=1
elif ! grep -q '"addr":25' "$scratch/read.json"; then
    echo "the packaged kovra610-cli read nothing: $(cat "$scratch/read.json")"; fail=1
fi
# The launcher gives a first start its folder and default setup file.
HOME="$scratch/home" QT_QPA_PLATFORM=offscreen KOVRA610_BOARD=virtual \
    timeout 2 "$scratch/root/usr/bin/kovra610-launch" >/dev/null 2>&1 || true
if ! cmp -s "$scratch/home/kovra610/Dac/kovra610_defaults.sbus" \
    "$scratch/root/usr/share/kovra610/kovra610_defaults.sbus"; then
    echo "kovra610-launch did not set up ~/kovra610/Dac"; fail=1
fi
grep -q '^Exec=kovra610-launch$' "$scratch/root/usr/share/applications/kovra610.desktop" ||
    { echo "the desktop entry does not run kovra610-launch"; fail=1; }

# The manual pages format without warnings and name every sub-command of the
# tool's own --help.
man_dir=$scratch/root/usr/share/man/man1
for page in kovra610 kovra610-cli; do
    warnings=$(MANWIDTH=80 man --warnings -l "$man_dir/$page.1.gz" 2>&1 >/dev/null) ||
        { echo "man $page failed"; fail=1; }
    [ -z "$warnings" ] || { echo "man $page: $warnings"; fail=1; }
done
MANWIDTH=200 man -l "$man_dir/kovra610-cli.1.gz" 2>/dev/null >"$scratch/man.txt"
"$scratch/root/usr/bin/kovra610-cli" --help |
    sed -n '/^Sub-commands:/,/^$/s/^  \([a-z-]\+\) .*/\1/p' >"$scratch/commands"
[ -s "$scratch/commands" ] || { echo "no sub-commands in kovra610-cli --help"; fail=1; }
while read -r command; do
    grep -qE "^ {7}$command( |$)" "$scratch/man.txt" ||
        { echo "kovra610-cli(1) lacks the sub-command $command"; fail=1; }
done <"$scratch/commands"

# The completion offers the sub-commands the packaged tool's --help lists.
completions=$(PATH="$scratch/root/usr/bin:$PATH" bash -c 'source "$1"; COMP_WORDS=(kovra610-cli le); COMP_CWORD=1
    _kovra610_cli; echo "${COMPREPLY[*]}"' _ \
    "$scratch/root/usr/share/bash-completion/completions/kovra610-cli")
[ "$completions" = level ] || { echo "completion of \"le\" gave \"$completions\""; fail=1; }

# The Python client imports from where the package puts it.
PYTHONPATH="$scratch/root/usr/lib/python3/dist-packages" python3 -c \
    'import kovra610; assert issubclass(kovra610.Error, Exception); kovra610.Session' ||
    { echo "the packaged Python client does not import"; fail=1; }

exit $fail
