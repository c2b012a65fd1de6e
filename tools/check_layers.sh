#!/bin/sh
# Checks that the layers point down only: jet <- db <- host <- run <- validate, import <- app.
#
# For each layer folder it lists the project folders its sources include ("#include "x/...""),
# fails when one of them is not a layer below it, and fails when the folder's library does not
# link exactly those layers (its target_link_libraries line in the folder's CMakeLists.txt).
# Run from the source folder (CTest does); prints what is wrong and exits 1, or exits 0.
set -u

# layer:target:the layers it may include
LAYERS="
jet:jet:
db:db:jet
host:host:jet db
run:run:jet db host
validate:validate:db host run
import:import:db host run validate
app:produkte_import_window:db host run validate import
"

status=0
while IFS=: read -r layer target allowed; do
  [ -n "$layer" ] || continue
  # The project folders this layer's own sources include (its tests are separate targets).
  included=$(find "$layer" -path "$layer/tests" -prune -o \
      \( -name '*.h' -o -name '*.cc' -o -name '*.cpp' \) -print |
    xargs grep -hoE '^#include "[a-z_]+/' |
    sed -E 's/^#include "([a-z_]+)\/$/\1/' | grep -vx "$layer" | sort -u | tr '\n' ' ')
  for dir in $included; do
    case " $allowed " in
      *" $dir "*) ;;
      *) echo "$layer/ includes $dir/, which is not a layer below it"; status=1 ;;
    esac
  done
  # The project layers the target links (PUBLIC or PRIVATE), from its one link line.
  linked=$(tr '\n' ' ' <"$layer/CMakeLists.txt" |
    grep -oE "target_link_libraries\($target [^)]*\)" | head -n 1 |
    sed "s/^target_link_libraries($target //" | tr ' )' '\n\n' | grep -xE 'jet|db|host|run|validate|import' | sort -u | tr '\n' ' ')
  if [ "$linked" != "$included" ]; then
    echo "$target links '${linked% }' but $layer/ includes '${included% }'"
    status=1
  fi
done <<END
$LAYERS
END
exit $status
