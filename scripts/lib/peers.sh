# Shell helpers shared by the demo, the end-to-end test and the benchmarks: the peers that
# stand in for the outside world, and a throw-away configuration for Tiktaal.

# Starts chronyd serving this machine's clock on ADDRESS:PORT without ever touching the
# clock (-x); its files stay in WORK. Sets CHRONY_PID.
tiktaal_start_chrony() {
  tiktaal_write_chrony_conf "$@"
  tiktaal_run_chrony "$1"
}

# Writes WORK/chrony.conf for a server on ADDRESS:PORT that answers loopback only.
tiktaal_write_chrony_conf() {
  local work=$1 address=$2 port=$3
  cat >"$work/chrony.conf" <<CONF
port $port
bindaddress $address
allow 127.0.0.0/8
local stratum 8
cmdport 0
pidfile $work/chronyd.pid
driftfile $work/chrony.drift
CONF
}

# Starts chronyd on WORK/chrony.conf, never touching the clock (-x). Sets CHRONY_PID.
tiktaal_run_chrony() {
  chronyd -x -d -u root -f "$1/chrony.conf" >"$1/chrony.log" 2>&1 &
  CHRONY_PID=$!
}

# Starts socat with a pseudo-terminal pair WORK/ttyA (Tiktaal's side) and WORK/ttyB (the
# board's side) and waits until both exist. Sets SOCAT_PID.
tiktaal_start_serial_pair() {
  local work=$1
  socat pty,raw,echo=0,link="$work/ttyA" pty,raw,echo=0,link="$work/ttyB" 2>"$work/socat.log" &
  SOCAT_PID=$!
  local _
  for _ in $(seq 100); do [ -e "$work/ttyB" ] && return 0; sleep 0.05; done
  return 1
}

# A configuration in CONFIG (used as XDG_CONFIG_HOME) with PORT as the serial port and the
# autostart entry that makes Tiktaal connect by itself. XDG_RUNTIME_DIR goes there too, so
# that the single-instance guard never meets (and never ends) a copy the user runs.
tiktaal_write_config() {
  local config=$1 port=$2
  export XDG_CONFIG_HOME=$config XDG_RUNTIME_DIR=$config/run
  mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
  mkdir -p "$config/Tiktaal" "$config/autostart"
  printf 'REGEDIT4\n\n[Software\\Tiktaal]\n"Port komunikacyjny"="%s"\n"baudRate"="10"\n' "$port" \
    >"$config/Tiktaal/user.reg"
  printf '[Desktop Entry]\nType=Application\nName=Tiktaal\nExec=true\n' \
    >"$config/autostart/Tiktaal.desktop"
}

# The board's log (tools/board output): how many lines it received, the stamp of the n-th,
# and a wait until it has received N (TRIES polls PAUSE seconds apart).
tiktaal_board_lines() { grep -c 'board received:' "$1" 2>/dev/null || true; }
tiktaal_board_stamp() { grep 'board received:' "$1" | sed -n "${2}p" | awk '{print $1}'; }
tiktaal_wait_board_lines() {
  local log=$1 want=$2 tries=${3:-200} pause=${4:-0.05} _
  for _ in $(seq "$tries"); do
    [ "$(tiktaal_board_lines "$log")" -ge "$want" ] && return 0
    sleep "$pause"
  done
  return 1
}

# A work folder for one end-to-end test in $work; whatever the test starts goes into pids
# (pids+=($!)) and is stopped, and the folder removed, when the test ends.
tiktaal_begin_test() {
  work=$(mktemp -d "/tmp/$1.XXXXXX")
  pids=()
  trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; rm -rf "$work"' EXIT
}

# The same for a test of a Windows program under Wine whose COM port N the test links to a
# pseudo-terminal of its own: $com is that link in the prefix, removed when the test ends.
# wine_ runs a Windows program (or a Wine tool) in the test's prefix.
tiktaal_begin_wine_test() {
  : "${TIKTAAL_WINEPREFIX:?the Wine prefix to run in}"
  : "${TIKTAAL_WINE_SCRIPTS:?the folder of wine-run.sh}"
  bash "$TIKTAAL_WINE_SCRIPTS/wine-prefix.sh" ensure "$TIKTAAL_WINEPREFIX"
  tiktaal_begin_test "$1"
  com=$TIKTAAL_WINEPREFIX/dosdevices/com$2
  trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; rm -f "$com";
        rm -rf "$work"' EXIT
}
wine_() { bash "$TIKTAAL_WINE_SCRIPTS/wine-run.sh" "$@"; }

# A throw-away certificate authority in DIR (ca.pem), a server certificate from it for the
# comma-separated loopback ADDRESSES and localhost (server.pem, server.key), and a second
# authority that vouches for none of it (other.pem).
tiktaal_make_test_ca() {
  local dir=$1 addresses=$2 san="DNS:localhost" a
  mkdir -p "$dir"
  for a in ${addresses//,/ }; do san="$san,IP:$a"; done
  (cd "$dir" &&
   openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ca.key \
     -out ca.pem -days 2 -subj "/CN=Tiktaal test CA" &&
   openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout server.key \
     -out server.csr -subj "/CN=localhost" &&
   printf 'subjectAltName=%s\nbasicConstraints=CA:FALSE\n' "$san" >ext.cnf &&
   openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem \
     -days 2 -extfile ext.cnf &&
   openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout other.key \
     -out other.pem -days 2 -subj "/CN=Other CA") >"$dir/openssl.log" 2>&1
}

# Starts chronyd serving NTS without touching the clock: NTP on ADDRESS:PORT, the key
# exchange on KE-PORT, with the certificate of tiktaal_make_test_ca's CA-DIR. With
# NTP-SERVER its key exchange sends clients there instead. Sets CHRONY_PID.
tiktaal_start_chrony_nts() {
  local work=$1 address=$2 port=$3 keport=$4 ca=$5 ntpserver=${6:-}
  mkdir -p "$work"
  tiktaal_write_chrony_conf "$work" "$address" "$port"
  cat >>"$work/chrony.conf" <<CONF
ntsdumpdir $work
ntsserverkey $ca/server.key
ntsservercert $ca/server.pem
ntsport $keport
CONF
  [ -n "$ntpserver" ] && echo "ntsntpserver $ntpserver" >>"$work/chrony.conf"
  tiktaal_run_chrony "$work"
}

# Waits (up to 10 s) until something listens on TCP PORT of 127.0.0.1.
tiktaal_wait_port() {
  local _
  for _ in $(seq 200); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}
