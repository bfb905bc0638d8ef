# The rules in src/core give the same match on every compiler, standard
# library and machine, and so the same replay and state hash. Checked on
# every test run: a file there that includes or uses what differs between
# them fails the build's tests.
#
#   libm        transcendental and root functions (sin … pow, sqrt): libm
#               rounds them differently from one library to the next
#   cmath       <cmath> or <math.h> at all
#   random      <random>: its distributions differ between libraries
#   unordered   unordered containers and std::hash: their order and values
#               are the library's own
#   clock       <chrono>, <ctime>, rand: the rules read no clock and no
#               hidden generator
#   sort        std::sort, std::partial_sort, std::nth_element: equal keys
#               come out in the library's order (std::stable_sort is fine)
#   float       float or double anywhere in core
#   field       a struct field of match.h, arena.h or replay.h that is not
#               of a fixed width (long, size_t, int, unsigned, float, …):
#               these are hashed and stored
#
# Run with -DSOURCE_DIR=<repo>. With -DEXPECTED=<file> the problems found
# must be exactly that file's lines instead (the check of the check).
cmake_minimum_required(VERSION 3.25)

# What core may do all the same, each with its reason: "file|rule" for the
# whole file, "file|rule|line" for one line (trimmed, comment and
# semicolons removed).
set(exceptions
  # saturate_cast needs std::isnan, which is exact; its float callers are
  # the picture and sound code, and core's own callers use only the integer
  # helpers beside it.
  "numbers.h|cmath"
  "numbers.h|float"
  # The drawing offset of a sliding mover: read by the views only, never
  # hashed, stored or fed back into the rules.
  "arena.h|float"
  "arena.h|field|float x = 0.0f"
  "arena.h|field|float y = 0.0f"
  "arena.cpp|float"
  # The opponent ranks goals by worth / (arrival + 8) in float: one
  # correctly rounded division and comparisons, no libm, no contraction
  # (-ffp-contract=off), so every IEEE machine ranks them alike.
  "bot.h|float"
  "bot.cpp|float")

set(type_words "long|unsigned|signed|short|int|float|double|char|wchar_t|size_t|ssize_t|ptrdiff_t|intptr_t|uintptr_t")
set(libm_words "sin|cos|tan|asin|acos|atan|atan2|sinh|cosh|tanh|exp|exp2|expm1|log|log2|log10|log1p|pow|sqrt|cbrt|hypot|fmod|remainder|erf|erfc|lgamma|tgamma")
set(hashed_headers "match.h;arena.h;replay.h")
# A word starts after a character that cannot be part of a name (":" can:
# std::size_t is size_t).
set(before "(^|[^A-Za-z0-9_])")
set(after "([^A-Za-z0-9_]|$)")

set(problems "")
function(report file rule line text)
  string(STRIP "${text}" trimmed)
  string(REPLACE ";" "" key "${trimmed}")
  if("${file}|${rule}" IN_LIST exceptions OR "${file}|${rule}|${key}" IN_LIST exceptions)
    return()
  endif()
  set(problems "${problems}\n  src/core/${file}:${line}: ${rule}: ${trimmed}" PARENT_SCOPE)
endfunction()

file(GLOB sources RELATIVE ${SOURCE_DIR}/src/core ${SOURCE_DIR}/src/core/*.h ${SOURCE_DIR}/src/core/*.cpp)
list(SORT sources)
foreach(source ${sources})
  file(READ ${SOURCE_DIR}/src/core/${source} content)
  # One list entry a line: semicolons and brackets would split or join
  # entries, so they stand in for themselves as `SEMI`, `LB` and `RB`.
  string(REPLACE ";" "`SEMI`" content "${content}")
  string(REPLACE "[" "`LB`" content "${content}")
  string(REPLACE "]" "`RB`" content "${content}")
  string(REPLACE "\n" ";" lines "${content}")
  list(FIND hashed_headers ${source} hashed)
  set(number 0)
  foreach(raw IN LISTS lines)
    math(EXPR number "${number} + 1")
    string(REGEX REPLACE "//.*$" "" code "${raw}")
    string(REPLACE "`SEMI`" ";" code "${code}")
    string(REPLACE "`LB`" "[" code "${code}")
    string(REPLACE "`RB`" "]" code "${code}")
    if(code MATCHES "^[ \t]*$")
      continue()
    endif()
    if(code MATCHES "^#[ \t]*include[ \t]*<(cmath|math\\.h)>")
      report(${source} cmath ${number} "${code}")
    elseif(code MATCHES "^#[ \t]*include[ \t]*<random>")
      report(${source} random ${number} "${code}")
    elseif(code MATCHES "^#[ \t]*include[ \t]*<(unordered_map|unordered_set)>")
      report(${source} unordered ${number} "${code}")
    elseif(code MATCHES "^#[ \t]*include[ \t]*<(chrono|ctime|time\\.h)>")
      report(${source} clock ${number} "${code}")
    endif()
    if(code MATCHES "^[ \t]*#")
      continue()
    endif()
    if(code MATCHES "${before}(std::)?(${libm_words})[fl]?[ \t]*\\(")
      report(${source} libm ${number} "${code}")
    endif()
    if(code MATCHES "${before}(unordered_(map|set|multimap|multiset)|std::hash)${after}")
      report(${source} unordered ${number} "${code}")
    endif()
    if(code MATCHES "${before}(s?rand|random_device|mt19937(_64)?|steady_clock|system_clock|high_resolution_clock)${after}")
      report(${source} clock ${number} "${code}")
    endif()
    if(code MATCHES "${before}(std::)?(ranges::)?(sort|partial_sort|partial_sort_copy|nth_element)[ \t]*\\(")
      report(${source} sort ${number} "${code}")
    endif()
    if(code MATCHES "${before}(float|double)${after}|[0-9]\\.[0-9]*f${after}")
      report(${source} float ${number} "${code}")
    endif()
    # A field: an indented declaration ending in ";" without a call or a
    # parameter list in it, naming one of the type words.
    if(hashed GREATER -1 AND code MATCHES "^[ \t]+[^ \t(]" AND code MATCHES ";[ \t]*$"
       AND NOT code MATCHES "[()]"
       AND NOT code MATCHES "^[ \t]*(return|using|friend|static|typedef|case|break|continue)${after}"
       AND code MATCHES "${before}(${type_words})${after}")
      report(${source} field ${number} "${code}")
    endif()
  endforeach()
endforeach()

if(DEFINED EXPECTED)
  file(READ ${EXPECTED} expected)
  string(STRIP "${expected}" expected)
  string(STRIP "${problems}" found)
  string(REGEX REPLACE "\n  " "\n" found "${found}")
  if(NOT found STREQUAL expected)
    message(FATAL_ERROR "the determinism check found\n${found}\ninstead of\n${expected}")
  endif()
elseif(problems)
  message(FATAL_ERROR "src/core uses what differs between compilers or machines:${problems}")
endif()
