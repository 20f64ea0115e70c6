#!/usr/bin/env bash
# Packs the build folder into its Debian package, unpacks that into a scratch
# root and runs each program it holds once from there, as a parent application
# that ships the package would start it: nothing of the source or build tree
# is in reach (the simulated desktop's scene is a copy).
#   package_test.sh <build dir> <scenes dir> <ON when the build has the whisper engine>
set -euo pipefail

build=$1
scenes=$2
whisper=${3:-}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

if ! cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log" >&2
  fail "cpack could not build the package"
fi
debs=("$scratch"/out/*.deb)
((${#debs[@]} == 1)) || fail "expected one .deb, got: ${debs[*]}"
deb=${debs[0]}
echo "package: $(basename "$deb")"

[[ $(dpkg-deb -f "$deb" Package) == nolari-native ]] || fail "the package is not named nolari-native"
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
[[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "the package's version is not $version"
depends=$(dpkg-deb -f "$deb" Depends)
echo "depends: $depends"
[[ $depends == *pocketsphinx-en-us* ]] || fail "the package does not depend on the speech model"
# dpkg-shlibdeps found the libraries the binaries link.
[[ $depends == *libc6* && $depends == *libatspi* && $depends == *libpocketsphinx* ]] ||
  fail "the libraries the programs link are not among the dependencies"

files=$(dpkg-deb -c "$deb" | awk '{print $NF}' | grep -v '/$' | sort | tr '\n' ' ')
[[ $files == "./usr/bin/ambrel ./usr/bin/sondra ./usr/bin/tarnet ./usr/bin/velkit " ]] ||
  fail "the package holds more or less than the four programs: $files"

root=$scratch/root
dpkg-deb -x "$deb" "$root"
bin=$root/usr/bin
for program in ambrel sondra tarnet velkit; do
  if readelf -d "$bin/$program" | grep -qE 'RPATH|RUNPATH'; then
    fail "$program keeps a library search path: $(readelf -d "$bin/$program" | grep -E 'RPATH|RUNPATH')"
  fi
  if ldd "$bin/$program" | grep -q 'not found'; then
    fail "$program lacks libraries: $(ldd "$bin/$program" | grep 'not found')"
  fi
done

work=$scratch/work
mkdir -p "$work"
cp "$scenes/mail_compose.json" "$work/scene.json"
cd "$work"
# Only what each run sets reaches the programs.
for variable in $(env | sed -n 's/^\(NOLARI_[A-Z_]*\)=.*/\1/p'); do unset "$variable"; done
sim=(NOLARI_PLATFORM=sim NOLARI_SIM_SCENE="$work/scene.json")

# The first line of a program that runs until it is ended, waited for at most
# 10 s; the program is then ended.
first_line() {
  local fifo=$scratch/$1.fifo line=""
  mkfifo "$fifo"
  env "${@:2}" "$bin/$1" </dev/null >"$fifo" 2>"$scratch/$1.err" &
  local pid=$!
  IFS= read -r -t 10 line <"$fifo" || true
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  [[ -n $line ]] || echo "$1 wrote nothing; standard error: $(cat "$scratch/$1.err")" >&2
  printf '%s\n' "$line"
}

# The line is a JSON object with the members of the pattern ("*": any value)
# and no others.
expect() {
  local what=$1 got=$2 pattern=$3
  /usr/bin/python3 -c '
import json, sys
got, want = json.loads(sys.argv[1]), json.loads(sys.argv[2])
sys.exit(not (isinstance(got, dict) and got.keys() == want.keys()
              and all(w == "*" or got[k] == w for k, w in want.items())))
' "$got" "$pattern" 2>/dev/null || fail "$what: got '$got', expected $pattern"
  echo "$what: $got"
}

sondra=$(printf '{"id":"1","op":"ping"}\n' | timeout 60 "$bin/sondra" 2>"$scratch/sondra.err") ||
  fail "sondra failed: $(cat "$scratch/sondra.err")"
expect "sondra startup" "$(sed -n 1p <<<"$sondra")" '{"type":"status","event":"startup","ready":true,"supports":"*"}'
expect "sondra ping" "$(sed -n 2p <<<"$sondra")" '{"id":"1","type":"response","status":"ok","pong":true}'
[[ $(wc -l <<<"$sondra") == 2 ]] || fail "sondra wrote more than two lines: $sondra"

# The whisper engine is in the binary when the build has it: its model is
# checked only on a transcription, so Sondra starts on a missing one.
if [[ $whisper == ON ]]; then
  line=$(env NOLARI_SPEECH_ENGINE=whisper NOLARI_SPEECH_MODEL="$work/none.bin" timeout 60 "$bin/sondra" \
    </dev/null 2>"$scratch/whisper.err" | head -n 1 || true)
  [[ -n $line ]] || fail "sondra does not start on the whisper engine: $(cat "$scratch/whisper.err")"
  expect "sondra on the whisper engine" "$line" '{"type":"status","event":"startup","ready":true,"supports":"*"}'
fi

velkit=$(env "${sim[@]}" timeout 20 "$bin/velkit" check-permissions 2>"$scratch/velkit.err") ||
  fail "velkit check-permissions failed: $(cat "$scratch/velkit.err")"
expect "velkit check-permissions" "$velkit" '{"trusted":true}'

expect "tarnet" "$(first_line tarnet "${sim[@]}")" '{"type":"status","event":"started"}'
expect "ambrel" "$(first_line ambrel "${sim[@]}")" '{"type":"status","event":"startup","trusted":true,"pid":"*"}'
