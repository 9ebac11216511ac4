#!/usr/bin/env bash
# The layer check: a folder under src/ includes nothing from a folder above
# it, and the core's files include no Qt. The order, lowest first:
#   store -> platform -> views -> contacts, delivery -> compose -> app, cli
# platform/'s plain headers (the interfaces: prompter.h, launcher.h, ...) may
# be used from any layer; its qt_* adapters only from Qt files and from the
# programs' main.cpp, which wire them in. The Qt files (*_window, *_dialog,
# *_model, compose/surface/, delivery/windows/, platform/qt_*, app/main.cpp)
# may include Qt and their own or lower layers; no core file includes a Qt
# file. See CODING.md.
#
# Every run first checks itself on planted includes, so a check that has
# stopped seeing an upward include fails instead of passing quietly.
set -euo pipefail
cd "$(dirname "$0")/.."

# Reads "file:line:#include ..." lines, prints one line per broken include to
# stderr and exits 1 if there is any.
check() {
    awk '
function rank(folder) {
    if (folder == "store") return 0
    if (folder == "platform") return 0.5
    if (folder == "views") return 1
    if (folder == "contacts" || folder == "delivery") return 2
    if (folder == "compose") return 3
    if (folder == "app" || folder == "cli") return 4
    return -1
}
function problem(text) { print text > "/dev/stderr"; failures++ }
{
    # file:line:#include <target> or "target"
    split($0, part, ":")
    file = part[1]; line = part[2]
    text = substr($0, length(file) + length(line) + 3)
    if (!match(text, /[<"][^>"]+[>"]/)) next
    target = substr(text, RSTART + 1, RLENGTH - 2)
    split(file, path, "/"); layer = path[2]
    if (rank(layer) < 0) {
        problem(file ":" line ": " layer " is no known layer (add it to scripts/check_layers.sh)")
        next
    }
    qt = (file ~ /_(window|dialog|model)\.(h|cpp)$/ || file ~ /^src\/(compose\/surface|delivery\/windows)\// ||
          file ~ /^src\/platform\/qt_/ || file == "src/app/main.cpp")
    entry = (file ~ /^src\/(app|cli)\/main\.cpp$/)
    slash = index(target, "/")
    top = slash > 0 ? substr(target, 1, slash - 1) : ""
    if (top == "platform") {
        if (!qt && !entry && target ~ /^platform\/qt_/)
            problem(file ":" line ": a core file includes the Qt adapter " target)
        else if (layer == "platform" && file !~ /^src\/platform\/qt_/ && target ~ /^platform\/qt_/)
            problem(file ":" line ": a plain platform header includes the Qt adapter " target)
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
    if (!qt && (target ~ /^Q[A-Za-z]*$/ || target ~ /^Qt[A-Za-z]*\// || target ~ /^qt6/))
        problem(file ":" line ": a core file includes Qt (" target ")")
}
END {
    if (failures > 0) {
        print "check_layers: " failures " include(s) break the layer order (see CODING.md)" > "/dev/stderr"
        exit 1
    }
}'
}

# The self-check: each planted line must be refused, the allowed ones must pass.
planted=(
    'src/platform/qt_recent_session_store.h:3:#include "app/recent_sessions.h"'
    'src/platform/launcher.h:3:#include "views/contact_views.h"'
    'src/store/session.h:3:#include "views/contact_views.h"'
    'src/delivery/send_run.cpp:3:#include "compose/compose_rules.h"'
    'src/delivery/smtp/smtp_session.cpp:3:#include "contacts/mailtray.h"'
    'src/compose/compose_rules.cpp:3:#include "app/main_commands.h"'
    'src/cli/send_cli.cpp:3:#include "app/recent_sessions.h"'
    'src/app/recent_sessions.cpp:3:#include "cli/cli_context.h"'
    'src/cli/send_cli.cpp:3:#include <QString>'
    'src/app/main_commands.cpp:3:#include "platform/qt_menus.h"'
    'src/views/contact_views.cpp:3:#include <QtCore/QString>'
    'src/newfolder/thing.cpp:3:#include "store/session.h"'
    'src/delivery/run/send_run.cpp:3:#include "delivery/windows/send_progress_window.h"'
    'src/app/main_commands.cpp:3:#include "contacts/contact_dialog.h"'
)
allowed=(
    'src/store/session.h:3:#include "platform/prompter.h"'
    'src/platform/qt_keychain_password_store.h:3:#include "store/password_store.h"'
    'src/platform/qt_prompter.cpp:5:#include <QFileDialog>'
    'src/delivery/run/send_run.cpp:3:#include "delivery/smtp/smtp_session.h"'
    'src/delivery/windows/send_progress_window.cpp:5:#include <QProgressBar>'
    'src/app/main_window.cpp:4:#include "delivery/windows/send_progress_window.h"'
    'src/app/main_window.cpp:3:#include "compose/compose_window.h"'
    'src/app/main.cpp:3:#include <QApplication>'
    'src/cli/main.cpp:4:#include "platform/qt_keychain_password_store.h"'
    'src/cli/send_cli.cpp:3:#include "delivery/send_run.h"'
)
for include in "${planted[@]}"; do
    if printf '%s\n' "$include" | check 2>/dev/null; then
        echo "check_layers: the check let a planted include through: $include" >&2
        exit 2
    fi
done
if ! printf '%s\n' "${allowed[@]}" | check; then
    echo "check_layers: the check refused an allowed include (above)" >&2
    exit 2
fi

# One pass over every include line of every folder under src/.
find src -mindepth 2 -type f \( -name '*.h' -o -name '*.cpp' \) | sort |
    xargs grep -HnE '^[[:space:]]*#[[:space:]]*include' | check
echo "check_layers: the layers hold"
