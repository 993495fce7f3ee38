#!/bin/bash
# The system test's checks, run as root inside the booted Debian 12 container by system_test.sh:
#   install       INN, Exim and the packages from /debs as the administrator's guide says; the service
#                 package alone pulls in no Qt or X11; the folders, log file, user quillport, log rotation;
#   checks        a mail posted once, upgrade, stop mid-backlog, drop folder made again (while the
#                 service runs, and after it started without one);
#   after-reboot  the service came up and posts; remove stops it; purge leaves no log, link, and Exim working.
set -u
drop=/var/spool/quillport/_M2News log=/var/log/quillport/~NNTP.log
fail() { echo "FAIL: $*" >&2; journalctl -u quillportd --no-pager -n 30 >&2; exit 1; }
export DEBIAN_FRONTEND=noninteractive

# Waits up to $1 seconds until the command after it succeeds.
wait_for() {
  local seconds=$1
  shift
  for _ in $(seq $((seconds * 4))); do "$@" && return 0; sleep 0.25; done
  return 1
}
# The number of articles in local.test, from INN's GROUP answer (after MODE READER, answered before
# the next command: INN hands the connection over to its reader then).
articles() {
  local line count=0
  exec 3<>/dev/tcp/127.0.0.1/119 || return 1
  read -r -t 10 line <&3
  printf 'MODE READER\r\n' >&3 && read -r -t 10 line <&3
  printf 'GROUP local.test\r\n' >&3 && read -r -t 10 line <&3
  [[ $line =~ ^211\ ([0-9]+) ]] && count=${BASH_REMATCH[1]}
  printf 'QUIT\r\n' >&3
  exec 3<&-
  echo "$count"
}
articles_are() { [[ $(articles) == "$1" ]]; }
articles_above() { (($(articles) > $1)); }
waiting() { find "$drop" -maxdepth 1 -name '*.cnm' | wc -l; }
main_pid() { systemctl show -P MainPID quillportd; }
# Mails message $1 to the news alias through Exim's sendmail.
mail_in() {
  printf 'From: admin@example.org\nSubject: test %s\nMessage-ID: <%s@quillport.test>\n\nBody %s\n' "$1" "$1" "$1" \
    | sendmail -oi news-list || fail "sendmail exited $?"
}

install() {
  apt-get install -y -q --no-download --dry-run /debs/quillport-common_*.deb /debs/quillportd_*.deb >/tmp/dry 2>&1 \
    || { cat /tmp/dry; fail "the service's package cannot be installed"; }
  ! grep -E '^Inst (libqt6|libx11)' /tmp/dry || fail "installing quillportd pulls in Qt or X11"
  apt-get install -y -q --no-download inn2 exim4-daemon-light logrotate >/tmp/apt.log 2>&1 \
    || { tail -30 /tmp/apt.log; fail "inn2, exim4 and logrotate did not install"; }
  wait_for 60 ctlinnd -s mode || fail "INN did not start"
  ctlinnd -s newgroup local.test || fail "no group local.test"
  # (their dependencies are in the base system: apt checked it above)
  dpkg -i /debs/quillport-common_*.deb /debs/quillportd_*.deb >/tmp/apt.log 2>&1 \
    || { tail -30 /tmp/apt.log; fail "the packages did not install"; }
  ! systemctl is-enabled -q quillportd && ! systemctl is-active -q quillportd || fail "the service is not shipped disabled"
  [[ $(stat -c '%U:%G %a' "$drop" "$drop/Errors" "${log%/*}" "$log" | sort -u) \
    == $'root:quillport 2775\nroot:quillport 664' ]] || fail "the folders are not root:quillport 2775, the log file 664"
  [[ $(id -gn quillport) == quillport && $(getent passwd quillport | cut -d: -f7) == /usr/sbin/nologin ]] \
    || fail "no system user quillport in the group quillport without a login"
  logrotate -d /etc/logrotate.d/quillport >/tmp/logrotate.log 2>&1 && ! grep -qi error /tmp/logrotate.log \
    || { cat /tmp/logrotate.log; fail "logrotate -d finds fault with the snippet"; }
  echo '#2026-12-07 09:05:07#,"0000512"' >>"$log"
  logrotate -f /etc/logrotate.d/quillport || fail "the rotation failed"
  [[ -s $log.1 && $(stat -c '%U:%G %a %s' "$log") == "root:quillport 664 0" ]] \
    || fail "the rotation did not leave $log.1 and a new empty log file, root:quillport 664"
  # Exim's unsplit configuration, as the administrator's guide says.
  sed -i -e '/^system_aliases:/i .include_if_exists /etc/exim4/conf.d/router/390_quillport_news-aliases' \
    -e '/^address_pipe:/i .include_if_exists /etc/exim4/conf.d/transport/30_quillport_news-pipe' \
    /etc/exim4/exim4.conf.template
  echo 'news-list: "|/usr/bin/quillport-deliver -n local.test"' >>/etc/aliases
  { update-exim4.conf && systemctl restart exim4; } || fail "Exim does not take the configuration"
  systemctl enable --now quillportd || fail "the service does not start"
}

checks() {
  mail_in once
  wait_for 30 articles_are 1 || fail "the mail did not reach INN (articles: $(articles))"
  sleep 3
  articles_are 1 || fail "the mail was posted more than once"

  local old new
  old=$(main_pid)
  dpkg -i /debs/newer/*.deb >/tmp/dpkg.log 2>&1 || { cat /tmp/dpkg.log; fail "the upgrade failed"; }
  wait_for 20 systemctl is-active -q quillportd || fail "the service is not running after the upgrade"
  new=$(main_pid)
  [[ $new != "$old" && $new != 0 ]] || fail "the upgrade did not restart the service (MainPID $old, then $new)"
  [[ $(readlink /proc/"$new"/exe) == /usr/sbin/quillportd ]] || fail "the service runs $(readlink /proc/"$new"/exe)"

  # A backlog of 300 mails, stopped once posting has begun: the stop ends well and leaves the rest.
  systemctl stop quillportd
  for i in $(seq 300); do
    printf 'From: a@example.org\nSubject: backlog %s\nMessage-ID: <b%s@quillport.test>\n\nx\n' "$i" "$i" \
      | quillport-deliver -n local.test || fail "quillport-deliver failed"
  done
  systemctl start quillportd && systemctl kill -s USR1 quillportd
  wait_for 60 articles_above 5 || fail "the backlog is not posted"
  systemctl stop quillportd || fail "systemctl stop mid-backlog failed"
  [[ $(systemctl show -P ExecMainStatus quillportd) == 0 ]] || fail "the service's stop did not exit 0"
  left=$(waiting)
  ((left > 0)) || fail "the backlog was all posted before the stop: no stop mid-backlog was seen"
  systemctl start quillportd && systemctl kill -s USR1 quillportd
  wait_for 120 articles_are 301 || fail "after the start the rest was not posted ($(articles) articles, $(waiting) waiting)"

  # The drop folder deleted and made again as the repair says, while the service runs.
  old=$(main_pid)
  rm -rf "$drop"
  dpkg-reconfigure quillport-common || fail "dpkg-reconfigure quillport-common failed"
  mail_in remade
  systemctl kill -s USR1 quillportd
  wait_for 30 articles_are 302 || fail "the drop folder made again is not served ($(waiting) waiting)"
  [[ $(main_pid) == "$old" ]] || fail "the service restarted"
  # Missing when the service starts, made again later.
  systemctl stop quillportd && rm -rf "$drop" && systemctl start quillportd
  dpkg-reconfigure quillport-common && mail_in missing-at-start
  systemctl kill -s USR1 quillportd
  wait_for 40 articles_are 303 || fail "a drop folder missing at the start is not served once made ($(waiting) waiting)"
}

after_reboot() {
  systemctl is-active -q quillportd || fail "the service is not active after the reboot"
  mail_in rebooted
  wait_for 60 articles_are 304 || fail "nothing posted after the reboot ($(waiting) waiting)"

  apt-get remove -y -q quillportd >/tmp/apt.log 2>&1 || { cat /tmp/apt.log; fail "apt-get remove failed"; }
  ! systemctl is-active -q quillportd && ! pidof quillportd >/dev/null || fail "remove left the service running"
  apt-get purge -y -q quillportd quillport-common >/tmp/apt.log 2>&1 || { cat /tmp/apt.log; fail "purge failed"; }
  for path in "$log" "$log.1" /etc/logrotate.d/quillport; do [[ ! -e $path ]] || fail "purge left $path"; done
  links=$(find /etc/systemd/system -xtype l)
  [[ -z $links ]] || fail "purge left dangling links: $links"
  id alice >/dev/null 2>&1 || useradd -m alice
  printf 'Subject: after purge\n\nstill here\n' | sendmail -oi alice || fail "sendmail failed after the purge"
  wait_for 20 grep -qs 'still here' /var/mail/alice || fail "Exim did not deliver after the purge"
  systemctl restart exim4 || fail "Exim does not restart after the purge"
}

case $1 in
  install) install ;;
  checks) checks ;;
  after-reboot) after_reboot ;;
  *) fail "no phase $1" ;;
esac
echo "inside: phase $1 passed"
