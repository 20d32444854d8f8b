#!/usr/bin/env bash
# Checks the include lines of each subsystem against the libraries it links: a subsystem's
# sources may include its own headers and those of the subsystems it links, directly or
# through them, and nothing else. A lower layer that includes an upper one fails.
# Usage: tools/check_layers.sh LAYERS   (run from the source folder)
#   LAYERS: lines "folder: allowed-folder ..." that the build writes from its link graph.
set -euo pipefail
layers=$1
subsystems=$(cut -d: -f1 "$layers" | tr '\n' ' ')
status=0
while IFS=: read -r folder allowed; do
  while IFS= read -r hit; do
    file=${hit%%:*}
    rest=${hit#*:}
    line=${rest%%:*}
    [[ $rest =~ include\ \"([a-z0-9_]+)/ ]] || continue
    included=${BASH_REMATCH[1]}
    case " $subsystems " in *" $included "*) ;; *) continue ;; esac
    case " $folder $allowed " in *" $included "*) continue ;; esac
    echo "$file:$line includes $included/, which $folder does not link"
    status=1
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include "[a-z0-9_]+/' "$folder" \
             --include='*.cpp' --include='*.h' || true)
done < "$layers"
[ "$status" -eq 0 ] && echo "every include follows the link graph ($(wc -l < "$layers") subsystems)"
exit "$status"
