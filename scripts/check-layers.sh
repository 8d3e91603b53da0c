#!/usr/bin/env bash
# Keeps the source folders layered: a file under src/ includes headers from
# its own folder and the folders below it, never from one above. Prints each
# include that breaks the rule (file and line) and exits 1 when there is one.
# Usage: scripts/check-layers.sh [SRC_DIR]   (default: the repository's src/)
set -euo pipefail
src="${1:-$(dirname "$0")/../src}"
src="$(realpath -s --relative-to="$PWD" "$src")"

# What each folder may include besides itself, bottom up. The conversion run
# and the audio sit side by side: neither includes the other.
declare -A allowed=(
  [common]=""
  [midi]="common"
  [beats]="midi common"
  [beatmap]="beats midi common"
  [difficulty]="beatmap beats midi common"
  [layout]="beatmap beats midi common"
  [conversion]="difficulty layout beatmap beats midi common"
  [audio]="beatmap beats midi common"
  [cli]="conversion audio difficulty layout beatmap beats midi common"
)

if [ ! -d "$src" ]; then
  echo "check-layers: no source folder at $src" >&2
  exit 2
fi

status=0
while IFS= read -r -d '' file; do
  relative="${file#"$src"/}"
  folder="${relative%%/*}"
  if [ "$folder" = "$relative" ] || [ -z "${allowed[$folder]+set}" ]; then
    echo "$file: not in a known layer; add its folder to scripts/check-layers.sh" >&2
    status=1
    continue
  fi
  line_number=0
  while IFS= read -r line; do
    line_number=$((line_number + 1))
    [[ "$line" =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*[\"\<]([A-Za-z0-9_]+)/ ]] || continue
    target="${BASH_REMATCH[1]}"
    # Only the project's own folders are layered; <sys/stat.h> and the like
    # are not.
    [ -n "${allowed[$target]+set}" ] || continue
    [ "$target" = "$folder" ] && continue
    case " ${allowed[$folder]} " in
      *" $target "*) ;;
      *)
        echo "$file:$line_number: $folder/ includes from $target/, which is not below it: ${line#*include}" >&2
        echo "    $folder/ may include only: $folder ${allowed[$folder]}" >&2
        status=1
        ;;
    esac
  done <"$file"
done < <(find "$src" -type f \( -name '*.h' -o -name '*.cpp' \) -print0 | sort -z)

if [ "$status" -eq 0 ]; then
  echo "check-layers: every include under $src points down"
fi
exit "$status"
