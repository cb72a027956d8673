#!/bin/sh
# usage: check_export_marks.sh HEADER...
# Every class, struct, function and variable that a header of the library declares at file
# scope carries RGB2LAB_EXPORT, so that the shared library exports it. A declaration begins at
# the start of a line; functions defined in the header (constexpr, inline, templates) need no
# mark. Prints each unmarked declaration and fails when there is one.
unmarked=$(grep -nE '^(class|struct) [A-Za-z_]|^(extern |[A-Za-z_][A-Za-z0-9_:<>,*& ]*[ *&](operator[^ (]+|[A-Za-z_][A-Za-z0-9_]*)\()' "$@" |
  grep -vE '^([^:]*:){2}(RGB2LAB_EXPORT |(class|struct) RGB2LAB_EXPORT |(constexpr|inline|template|static|using|typedef|namespace|enum)[ <])' |
  grep -vE '^([^:]*:){2}(class|struct) [A-Za-z_0-9]+;$')
[ -z "$unmarked" ] && exit 0
echo "declarations without RGB2LAB_EXPORT:"
echo "$unmarked"
exit 1
