# The project's own sources, for the format and tidy checks (sourced by tools/format.sh and
# tools/tidy.sh): the files git knows that match the patterns, except the generated tables
# (jet/text/text_sort_tables.cc from tools/make_sort_tables.py, jet/text/case_tables.cc from
# tools/make_case_tables.py).
#   pi_sources_into ARRAY PATTERN...   fills ARRAY; fails, saying why, when it finds none
pi_sources_into() {
  local -n pi_list=$1
  shift
  mapfile -t pi_list < <(git ls-files "$@" |
    grep -v -x -e 'jet/text/text_sort_tables.cc' -e 'jet/text/case_tables.cc')
  if ((${#pi_list[@]} == 0)); then
    echo "no sources found by git ls-files (is git installed and this a git checkout?)" >&2
    return 1
  fi
}
