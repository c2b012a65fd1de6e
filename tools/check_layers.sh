#!/bin/sh
# Checks that the layers point down only, between the project's folders and between the
# engine's subsystem folders, and that no files include each other in a circle.
#
#   folders:    jet <- db <- host <- run <- validate, import <- app
#   engine:     jet/base <- jet/text <- jet/file <- jet/page <- jet/table <- jet/index
#               <- jet/database, and jet/base <- jet/text <- jet/expr
#
# For each layer folder it lists the folders its sources include ("#include "x/..."" between
# the project's folders, "#include "jet/x/..."" between the engine's), fails when one of them is
# not a layer below it, and fails when the folder's library does not link exactly those layers
# (its target_link_libraries line in the folder's CMakeLists.txt). Then it fails on any circle of
# includes among the project's files, a header and its source counting as one.
# Run from the source folder (CTest does); prints what is wrong and exits 1, or exits 0.
set -u

# folder:target:the layers it may include
LAYERS="
jet/base:jet_base:
jet/text:jet_text:base
jet/file:jet_file:base text
jet/page:jet_page:base text file
jet/table:jet_table:base text file page
jet/index:jet_index:base text file page table
jet/expr:jet_expr:base text
jet/database:jet_database:base text file page table index
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
  case "$layer" in
    jet/*) pattern='^#include "jet/[a-z_]+/'; strip='s/^#include "jet\/([a-z_]+)\/$/\1/'
           names='base|text|file|page|table|index|expr|database'; prefix=jet_ ;;
    *) pattern='^#include "[a-z_]+/'; strip='s/^#include "([a-z_]+)\/$/\1/'
       names='jet|db|host|run|validate|import'; prefix= ;;
  esac
  own=${layer#jet/}
  # The folders this layer's own sources include (its tests are separate targets).
  included=$(find "$layer" -path "$layer/tests" -prune -o \
      \( -name '*.h' -o -name '*.cc' -o -name '*.cpp' \) -print |
    xargs grep -hoE "$pattern" |
    sed -E "$strip" | grep -vx "$own" | sort -u | tr '\n' ' ')
  for dir in $included; do
    case " $allowed " in
      *" $dir "*) ;;
      *) echo "$layer/ includes $dir/, which is not a layer below it"; status=1 ;;
    esac
  done
  # The project layers the target links (PUBLIC or PRIVATE), from its one link line.
  linked=$(tr '\n' ' ' <"$layer/CMakeLists.txt" |
    grep -oE "target_link_libraries\($target [^)]*\)" | head -n 1 |
    sed "s/^target_link_libraries($target //" | tr ' )' '\n\n' |
    grep -xE "$prefix($names)" | sed "s/^$prefix//" | sort -u | tr '\n' ' ')
  if [ "$linked" != "$included" ]; then
    echo "$target links '${linked% }' but $layer/ includes '${included% }'"
    status=1
  fi
done <<END
$LAYERS
END

# Circles: every include of a project file is an edge from the including file to the included
# one, named without extension; tsort names the files of any circle it meets.
edges=$(find jet db host run validate import app tools tests bench fuzz \( -name '*.h' -o -name '*.cc' -o -name '*.cpp' \) |
  while read -r file; do
    grep -hoE '^#include "[a-z_]+/[a-z_0-9/]+\.h"' "$file" |
      sed -E "s|^#include \"(.*)\.h\"$|${file%.*} \1|"
  done | awk '$1 != $2')
circles=$(printf '%s\n' "$edges" | tsort 2>&1 >/dev/null)
if [ -n "$circles" ]; then
  echo "files include each other in a circle:"
  printf '%s\n' "$circles" | sed -n 's/^tsort: \([a-z][a-z_/0-9]*\)$/  \1/p' | awk '!seen[$0]++'
  status=1
fi
exit $status
