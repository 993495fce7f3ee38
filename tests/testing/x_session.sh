# Sourced by the tests that start the program on a private X server; each needs $work, a scratch folder.
# start_xvfb: a 1024x768 Xvfb (up between clients: -noreset); exports DISPLAY, sets xvfb_pid; 1 if it fails.
start_xvfb() {
  Xvfb -displayfd 3 -noreset -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in {1..150}; do [[ -s $work/display ]] && break; sleep 0.2; done
  [[ -s $work/display ]] && export DISPLAY=":$(head -n1 "$work/display")"
}
# start_openbox: openbox without the iconify animation (a restored frame is where it stays); sets openbox_pid.
start_openbox() {
  mkdir -p "$work/openbox" &&
    echo '<openbox_config><theme><animateIconify>no</animateIconify></theme></openbox_config>' >"$work/openbox/rc.xml"
  XDG_CONFIG_HOME=$work openbox --sm-disable >"$work/openbox.log" 2>&1 &
  openbox_pid=$!
  for _ in {1..150}; do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && return; sleep 0.2; done
  return 1
}
# window_of PID: sets window to the main window of the program's process PID; 1 while it has none.
window_of() { window=$(xdotool search --all --pid "$1" --name ' >>> NNTP$' 2>/dev/null | head -n1) && [[ -n $window ]]; }
