#!/usr/bin/env bash
# The layer check: a folder of the core includes nothing from a folder above
# it, and the core's files include no Qt. The order, lowest first:
#   store -> views -> contacts, delivery -> compose -> app, cli
# platform/'s plain headers (the interfaces: prompter.h, launcher.h, ...) may
# be used from any layer; its qt_* adapters only from Qt files. The Qt files
# of a layer (*_window, *_dialog, *_model, compose/surface/ and
# delivery/windows/) may include Qt and their own or lower layers; no core
# file includes a Qt file. See CODING.md.
set -euo pipefail
cd "$(dirname "$0")/.."

# One pass over every include line of the core's folders.
find src/store src/views src/contacts src/delivery src/compose -type f \( -name '*.h' -o -name '*.cpp' \) |
    sort | xargs grep -HnE '^[[:space:]]*#[[:space:]]*include' | awk '
function rank(folder) {
    if (folder == "store") return 0
    if (folder == "views") return 1
    if (folder == "contacts" || folder == "delivery") return 2
    if (folder == "compose") return 3
    if (folder == "app" || folder == "cli") return 4
    return -1
}
{
    # file:line:#include <target> or "target"
    split($0, part, ":")
    file = part[1]; line = part[2]
    text = substr($0, length(file) + length(line) + 3)
    if (!match(text, /[<"][^>"]+[>"]/)) next
    target = substr(text, RSTART + 1, RLENGTH - 2)
    split(file, path, "/"); layer = path[2]
    qt = (file ~ /_(window|dialog|model)\.(h|cpp)$/ || file ~ /^src\/(compose\/surface|delivery\/windows)\//)
    slash = index(target, "/")
    top = slash > 0 ? substr(target, 1, slash - 1) : ""
    if (top == "platform") {
        if (!qt && target ~ /^platform\/qt_/)
            problem(file ":" line ": a core file includes the Qt adapter " target)
        next
    }
    if (top != "" && rank(top) >= 0) {
        if (rank(top) > rank(layer))
            problem(file ":" line ": " layer " includes " target " from the layer above (" top ")")
        else if (rank(top) == rank(layer) && top != layer)
            problem(file ":" line ": " layer " includes " target " from its sibling layer (" top ")")
    }
    if (!qt && top != "" && (target ~ /_(window|dialog|model)\.h$/ || target ~ /^(compose\/surface|delivery\/windows)\//))
        problem(file ":" line ": a core file includes the Qt file " target)
    if (!qt && (target ~ /^Q[A-Za-z]*$/ || target ~ /^Qt[A-Za-z]*\//))
        problem(file ":" line ": a core file includes Qt (" target ")")
}
function problem(text) { print text > "/dev/stderr"; failures++ }
END {
    if (failures > 0) {
        print "check_layers: " failures " include(s) break the layer order (see CODING.md)" > "/dev/stderr"
        exit 1
    }
    print "check_layers: the layers hold"
}'
