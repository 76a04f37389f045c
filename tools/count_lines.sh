#!/bin/sh
# Counts the program's code and its tests in lines that hold something besides comments: a
# line that is blank, or holds only a comment (C++ // and /* */; # in shell, Python and CMake),
# is not counted; a line of code with a comment after it is.
#
# Code: engine settings ui cli app tools, but for tools/zkgen.cpp, which makes the recordings
# the tests run on. Tests: tests/ (the test programs, their scripts and the clients' checks),
# tools/zkgen.cpp, the install test packaging/install_test.sh and test.sh. The files counted are C++ (.cpp .hpp .h), shell (.sh), Python
# (.py) and CMakeLists.txt; data such as tests/mutation/mutants.txt is not.
#
# tools/count_lines.sh [-v]: prints both counts and tests / code; -v lists every file's count.
set -eu
cd "$(dirname "$0")/.."

files() {
  find "$@" -type f \( -name '*.cpp' -o -name '*.hpp' -o -name '*.h' -o -name '*.sh' \
    -o -name '*.py' -o -name CMakeLists.txt \) | LC_ALL=C sort
}

code=$(files engine settings ui cli app tools | grep -vx 'tools/zkgen.cpp')
tests=$( (files tests; echo tools/zkgen.cpp; echo packaging/install_test.sh; echo test.sh) | LC_ALL=C sort)

python3 - "${1:-}" "$code" "$tests" <<'EOF'
import re, sys

def cxx_lines(text):
    """Lines of C++ that hold something outside comments. Strings, character literals and raw
    strings are stepped over, so that a // or /* inside them is not taken for a comment."""
    count, has_code, i, n = 0, False, 0, len(text)
    while i < n:
        c = text[i]
        if c == "\n":
            count += has_code
            has_code = False
            i += 1
        elif text.startswith("//", i):
            i = text.find("\n", i)
            i = n if i < 0 else i
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            # a comment's line ends count the lines they end, which hold code only if before it
            for _ in range(text.count("\n", i, end)):
                count += has_code
                has_code = False
            i = end
        elif c == "R" and text.startswith('"', i + 1) and not (i and (text[i - 1].isalnum() or text[i - 1] == "_")):
            m = re.match(r'R"([^(\s]{0,16})\(', text[i:])
            if not m:
                has_code, i = True, i + 1
                continue
            end = text.find(")" + m.group(1) + '"', i + m.end())
            end = n if end < 0 else end + len(m.group(1)) + 2
            lines = text.count("\n", i, end)
            count += lines  # every line of a raw string is code
            has_code = True
            i = end
        elif c == '"' or (c == "'" and not (i and text[i - 1].isalnum())):  # 60'000 is a number
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            has_code, i = True, j + 1
        else:
            has_code = has_code or not c.isspace()
            i += 1
    return count + has_code

def hash_lines(text):
    """Lines of shell, Python or CMake that are neither blank nor a # comment (a #! line too)."""
    return sum(1 for line in text.splitlines() if line.strip() and not line.lstrip().startswith("#"))

def lines(path):
    text = open(path, encoding="utf-8", errors="replace").read()
    return cxx_lines(text) if path.endswith((".cpp", ".hpp", ".h")) else hash_lines(text)

verbose = sys.argv[1] == "-v"
totals = []
for side, paths in (("code", sys.argv[2]), ("tests", sys.argv[3])):
    total = 0
    for path in paths.split():
        k = lines(path)
        total += k
        if verbose:
            print(f"{k:7d}  {side:5s}  {path}")
    totals.append(total)
code, tests = totals
print(f"code lines:  {code}")
print(f"test lines:  {tests}")
print(f"tests / code: {100 * tests / code:.1f} %")
EOF
