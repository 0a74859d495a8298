#!/bin/bash
# The clean-system check of scripts/package --clean-check, run as root inside
# a fresh minbase Debian root that mmdebstrap made:
#
#   clean-check.sh PACKAGE.deb
#
# Installs the package with apt (nothing but its own dependencies), starts the
# window as an ordinary user on a virtual display (it must be visible within
# 15 seconds, with no QML warning), ends it with SIGTERM as a logout does,
# runs qvkctl --version and a small qvkctl import, removes the package and
# lists what stays. Exits non-zero when a step fails; every step says what it
# saw.
set -u
deb="$1"
export DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8
user=tester
failures=0

step() { printf '\n== %s\n' "$*"; }
# Indents a list, or says it is empty.
listing() { sed 's/^/  /' | grep . || echo "  none"; }
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}
# Every file and folder outside what the system keeps changing anyway.
snapshot() {
    find / -xdev \( -path /proc -o -path /sys -o -path /dev -o -path /tmp -o -path /run \
        -o -path /var/cache -o -path /var/lib/apt -o -path /var/lib/dpkg -o -path /var/log \
        -o -path /root \) -prune -o -print | sort
}
packages() { dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' | awk '$1 == "ii" { print $2 }' | sort; }

step "The fresh root"
grep PRETTY_NAME /etc/os-release
echo "$(packages | wc -l) packages installed"
packages >/tmp/packages-before

step "apt-get install --no-install-recommends $(basename "$deb")"
if apt-get install -y -q --no-install-recommends "$deb" >/tmp/apt-install.log 2>&1; then
    tail -n 3 /tmp/apt-install.log
    dpkg-query -W -f='Installed ${Package} ${Version}, Installed-Size ${Installed-Size} KiB\n' pelorin-qvk
    packages >/tmp/packages-with
    echo "Brought along: $(comm -13 /tmp/packages-before /tmp/packages-with | grep -vx pelorin-qvk | wc -l) packages"
    comm -13 /tmp/packages-before /tmp/packages-with | grep '^qml-module' | sed 's/^/  /'
else
    cat /tmp/apt-install.log
    fail "apt could not install the package"
    exit 1
fi

# A desktop brings a display server; this check brings a virtual one (after
# the package, so it cannot make up for a missing dependency).
step "A virtual display: xvfb, xauth, x11-utils"
apt-get install -y -q --no-install-recommends xvfb xauth x11-utils >/tmp/apt-x.log 2>&1 ||
    { cat /tmp/apt-x.log; fail "could not install the virtual display"; }
useradd --create-home --shell /bin/bash "$user"
home=$(getent passwd "$user" | cut -d: -f6)
# What is there before the programs run, and what the package put there.
snapshot >/tmp/files-before
dpkg-query -L pelorin-qvk | sort >/tmp/package-files
as_user() { runuser -u "$user" -- env -i HOME="$home" USER="$user" PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 "$@"; }

step "The window, started as the launcher starts it (VazizidADU from PATH), as $user"
as_user xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    cd "$HOME"
    VazizidADU >app.out 2>app.err & app=$!
    start=$(date +%s%N)
    shown=no
    while [ $(( ($(date +%s%N) - start) / 1000000 )) -lt 15000 ]; do
        if xwininfo -name "Pelorin QVK" 2>/dev/null | grep -q "Map State: IsViewable"; then
            shown=yes
            break
        fi
        kill -0 "$app" 2>/dev/null || break
        sleep 0.2
    done
    echo "Window visible: $shown (after $(( ($(date +%s%N) - start) / 1000000 )) ms)"
    [ "$shown" = yes ] && xwininfo -name "Pelorin QVK" | grep -E "Width|Height"
    sleep 2 # the view finishes its start-up calls
    kill -TERM "$app" 2>/dev/null
    wait "$app"
    echo "App status after SIGTERM: $?"
    [ "$shown" = yes ]
' || fail "no visible window within 15 seconds"
log="$home/.local/share/Pelorin QVK/VazizidADU.log"
echo "Warnings and errors of the run (log):"
grep -E ' (Warning|Critical|Fatal): ' "$log" | sed 's/^/  /'
if grep -E ' (Warning|Critical|Fatal): ' "$log" "$home/app.err" | grep -qiE 'qml|qtquick|module "'; then
    fail "QML warnings"
else
    echo "QML warnings: none"
fi
echo "End of the log:"
tail -n 4 "$log" | sed 's/^/  /'
grep -q 'AppDirectory: "/usr/lib/pelorin-qvk"' "$log" || fail "AppDirectory is not the application folder"
grep -q 'Info: Closing on "SIGTERM"' "$log" || fail "SIGTERM did not close the window"
[ "$(tail -n 1 "$log" | cut -c 25-)" = "Info: Application end" ] || fail "the log does not end with Application end"

step "qvkctl --version"
as_user qvkctl --version
status=$?
echo "Exit status: $status"
[ "$status" = 0 ] || fail "qvkctl --version"

step "qvkctl import of three tiny cards"
as_user bash -c '
    cd "$HOME"
    for card in 1 2 3; do
        mkdir -p cards/QVK_0$card/DCIM/100QVK
        head -c $((1000 * card)) /dev/urandom >cards/QVK_0$card/DCIM/100QVK/V0001.MOV
        head -c $((300 * card)) /dev/urandom >cards/QVK_0$card/DCIM/100QVK/P0002.JPG
    done
    qvkctl import --card1 cards/QVK_01 --card2 cards/QVK_02 --card3 cards/QVK_03 \
        --dest dive --project Clean 2>import.err
    status=$?
    tail -n 3 import.err
    echo "Exit status: $status"
    echo "Destination:"
    (cd dive && find . -type f | sort | sed "s/^/  /")
    exit $status
' || fail "qvkctl import"

step "apt-get remove pelorin-qvk"
apt-get remove -y -q pelorin-qvk >/tmp/apt-remove.log 2>&1 || { cat /tmp/apt-remove.log; fail "removal"; }
grep -E '^(Removing|Processing)' /tmp/apt-remove.log
echo "dpkg state: $(dpkg-query -W -f='${db:Status-Abbrev}' pelorin-qvk 2>/dev/null || echo 'unknown to dpkg')"
snapshot >/tmp/files-after
# Paths as they lie on disk: dpkg records /lib/... for what usrmerge keeps in /usr/lib/...
sed -E 's#^/(bin|sbin|lib|lib32|lib64|libx32)/#/usr/\1/#' /var/lib/dpkg/info/*.list |
    cat - /var/lib/dpkg/info/*.list | sort -u >/tmp/files-owned
echo "Files of the package that stay (owned by no installed package):"
comm -12 /tmp/package-files /tmp/files-after | comm -23 - /tmp/files-owned | listing
comm -13 /tmp/files-before /tmp/files-after | comm -23 - /tmp/files-owned >/tmp/files-left
echo "Files the runs made that stay, outside $home:"
grep -v "^$home" /tmp/files-left | listing
echo "In $home (the user's own: settings, log, ledger, the cards and the import): $(grep -c "^$home/" /tmp/files-left) entries, among them:"
grep -E "^$home/\\.local/share/Pelorin QVK/[^/]*$" /tmp/files-left | sed 's/^/  /'
echo "Packages that came with it and stay until 'apt autoremove': $(apt-get -s autoremove | grep -c '^Remv')"

step "Result"
if [ "$failures" -eq 0 ]; then
    echo "The clean-system check passed."
else
    echo "The clean-system check failed: $failures step(s)."
fi
[ "$failures" -eq 0 ]
