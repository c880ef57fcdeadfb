#!/usr/bin/env bash
# Checks the rules of CONTRIBUTING.md that the compiler does not see: includes
# by layer path, no SQL text in the pages or the grid, Qt's dialogs and event
# pumping only in the desktop seam, MariaDB's headers only in db, and the
# format of changed lines. Prints "file:line: rule: text" per finding and
# exits 1 when there is any.
set -uo pipefail
cd "$(dirname "$0")/.."

code=(src app tests bench shots fuzz)
cxx=(--include=*.h --include=*.hpp --include=*.cpp --include=*.c)

# Known exceptions, "file rule": code that another change is rewriting now.
# Remove an entry once its file keeps the rule; a stale entry is reported.
exceptions=()
# Files that talk to the server below db on purpose (their targets link
# MariaDB themselves): a test setting up what db must survive, the C peer of
# the benchmark.
belowDb=(tests/db/tst_rowwriter.cpp tests/security/tst_security.cpp bench/store_walk.c)

found=0
used=()
report() # file line rule text
{
    local e
    for e in "${exceptions[@]}"; do
        if [ "$e" = "$1 $3" ]; then
            used+=("$e")
            return
        fi
    done
    echo "$1:$2: $3: $4"
    found=1
}

# Reads grep -n lines "file:line:..." and reports each as `rule` with `text`.
each() # rule text
{
    local file line rest
    while IFS=: read -r file line rest; do
        report "$file" "$line" "$1" "$2"
    done
}

# include: a relative path slips past the layer check of the build.
each include 'include by "layer/File.h", not by a relative path' < <(
    grep -rnE "${cxx[@]}" '^\s*#\s*include\s*["<]\.\.?/' "${code[@]}")

# sql: statements belong in db. A string literal in the pages or the grid
# that holds an upper-case SQL word ("Delete" as a caption does not count).
sqlWords='SELECT|INSERT|UPDATE|DELETE|REPLACE|SHOW|CREATE|ALTER|DROP|TRUNCATE|RENAME|GRANT|REVOKE|KILL|USE|SET'
sqlWords+='|START TRANSACTION|COMMIT|ROLLBACK|SAVEPOINT|LOCK TABLES|UNLOCK TABLES|DESCRIBE|EXPLAIN|CALL|FROM|WHERE'
each sql 'SQL text outside db (move the statement into a db function)' < <(
    grep -rnoE "${cxx[@]}" '"([^"\\]|\\.)*"' src/pages src/grid | grep -E ":\"([^\"\\\\]|\\\\.)*\\b($sqlWords)\\b")

# seam: only the desktop seam (frame/Desktop.h, frame/QtDesktop) touches Qt's
# message boxes, file dialogs and event pumping; calling the seam's own
# processEvents() through a Desktop is the seam. Tests, benchmarks and the
# screenshot tools are drivers with fakes of their own, so the rule covers the
# program: src and app.
seamFiles='^src/frame/(Desktop\.h|QtDesktop\.(h|cpp)):'
seamCall='[dD]esktop(\(\))?\s*(\.|->)\s*processEvents\('
each seam 'QMessageBox, QFileDialog and processEvents only through the Desktop seam' < <(
    grep -rnE "${cxx[@]}" 'QMessageBox|QFileDialog|processEvents' src app | grep -vE "$seamFiles" |
        grep -vE '^[^:]*:[0-9]+:\s*//' | sed -E "s/$seamCall/seam(/g" | grep -E 'QMessageBox|QFileDialog|processEvents')

# mysql: MariaDB Connector/C is db's, privately.
each mysql 'MariaDB headers only in src/db (ask db)' < <(
    grep -rnE "${cxx[@]}" '^\s*#\s*include\s*[<"](mysql\.h|mysql/|mariadb/|errmsg\.h|mysqld_error\.h)' "${code[@]}" |
        grep -v '^src/db/' | grep -vE "^($(IFS='|'; echo "${belowDb[*]}")):")

# format: the lines changed since this branch left main, as .clang-format
# lays them out.
if ! command -v clang-format >/dev/null || ! git clang-format -h >/dev/null 2>&1; then
    echo "lint: format not checked: clang-format is not installed" >&2
else
    base=""
    for ref in origin/main main; do
        if git rev-parse -q --verify "$ref^{commit}" >/dev/null; then
            base=$(git merge-base HEAD "$ref") && break
        fi
    done
    if [ -z "$base" ]; then
        echo "lint: format not checked: no main branch to compare with" >&2
    else
        # One finding per hunk, at its first changed line of the file as it is.
        each format 'not formatted as .clang-format says (git clang-format)' < <(
            git clang-format --diff -q "$base" 2>/dev/null | awk '
                /^--- a\// { file = substr($0, 7) }
                /^@@/ { split($2, a, ","); line = substr(a[1], 2); todo = 1; next }
                todo && /^ / { line++ }
                todo && /^[-+]/ { print file ":" line ":"; todo = 0 }')
    fi
fi

for e in "${exceptions[@]}"; do
    [[ " ${used[*]} " == *" $e "* ]] || { echo "${e% *}:0: ${e##* }: listed exception no longer needed" && found=1; }
done
exit $found
