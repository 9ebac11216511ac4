"""Runs Dovecot for the tests on 127.0.0.1 with a throw-away configuration.

Everything lives in DIR: the configuration, a test authority and a server
certificate (ca.pem, server.pem), a password file, and for each user of
--users a Maildir holding a copy of every *.eml file of --messages.
Password of every user: "secret". Prints the TLS port, then writes
"TLS_PORT PLAIN_PORT" to DIR/ports; plain connections may use STARTTLS.
Stops Dovecot when the guard descriptor closes (the test process ended).
"""
import argparse
import os
import pwd
import shutil
import signal
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import make_test_certificates  # noqa: E402

DOVECOT = "/usr/sbin/dovecot"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--dir", required=True)
    p.add_argument("--guard-fd", type=int, default=-1)
    p.add_argument("--users", default="ann")
    p.add_argument("--messages", required=True)
    args = p.parse_args()
    d = os.path.abspath(args.dir)

    make_test_certificates.authority(d, "ca", "Velmora Test CA")
    make_test_certificates.issued(d, "server", "localhost", "DNS:localhost,IP:127.0.0.1")

    # Dovecot will not run its login processes as root: as root they run
    # as the users the package made, and the mail belongs to "dovecot".
    if os.getuid() == 0:
        internal, login = "dovecot", "dovenull"
    else:
        internal = login = pwd.getpwuid(os.getuid()).pw_name
    if os.getuid() == 0:
        os.chmod(d, 0o711)  # the test's own folder is the owner's only
    mail_user = pwd.getpwnam(internal)
    uid, gid = mail_user.pw_uid, mail_user.pw_gid

    users = args.users.split(",")
    with open(os.path.join(d, "passwd"), "w") as f:
        for user in users:
            home = os.path.join(d, "home", user)
            f.write("%s:{PLAIN}secret:%d:%d::%s\n" % (user, uid, gid, home))
            maildir = os.path.join(home, "Maildir")
            for sub in ("cur", "new", "tmp"):
                os.makedirs(os.path.join(maildir, sub))
            for i, name in enumerate(sorted(os.listdir(args.messages))):
                if name.endswith(".eml"):
                    shutil.copy(os.path.join(args.messages, name),
                                os.path.join(maildir, "new", "%d.%02d.test" % (1000000 + i, i)))
    for root, dirs, files in os.walk(os.path.join(d, "home")):
        for name in [root] + [os.path.join(root, x) for x in dirs + files]:
            os.chown(name, uid, gid)

    tls_port, plain_port = free_port(), free_port()
    for sub in ("run", "state"):
        os.makedirs(os.path.join(d, sub))
    conf = os.path.join(d, "dovecot.conf")
    with open(conf, "w") as f:
        f.write("""base_dir = {d}/run
state_dir = {d}/state
log_path = {d}/dovecot.log
protocols = imap
listen = 127.0.0.1
ssl = yes
ssl_cert = <{d}/server.pem
ssl_key = <{d}/server.key
disable_plaintext_auth = no
auth_mechanisms = plain login
auth_failure_delay = 0
first_valid_uid = 1
default_internal_user = {internal}
default_login_user = {login}
passdb {{
  driver = passwd-file
  args = scheme=PLAIN {d}/passwd
}}
userdb {{
  driver = passwd-file
  args = {d}/passwd
}}
mail_location = maildir:~/Maildir
service imap-login {{
  inet_listener imap {{
    address = 127.0.0.1
    port = {plain}
  }}
  inet_listener imaps {{
    address = 127.0.0.1
    port = {tls}
    ssl = yes
  }}
}}
""".format(d=d, internal=internal, login=login, plain=plain_port, tls=tls_port))

    server = subprocess.Popen([DOVECOT, "-F", "-c", conf], start_new_session=True)
    deadline = time.time() + 10
    while time.time() < deadline:
        try:
            socket.create_connection(("127.0.0.1", plain_port), timeout=1).close()
            break
        except OSError:
            time.sleep(0.05)
    with open(os.path.join(d, "ports"), "w") as f:
        f.write("%d %d\n" % (tls_port, plain_port))
    print(tls_port, flush=True)

    stopping = []

    def stop(*_):
        # The guard and SIGTERM come close together: the second call must
        # not wait on the first one's wait.
        if stopping:
            return
        stopping.append(True)
        # Nothing of the mail is kept, so no orderly shutdown (it takes a
        # second): the whole group of Dovecot's processes goes at once.
        os.killpg(server.pid, signal.SIGKILL)
        server.wait()
        os._exit(0)

    signal.signal(signal.SIGTERM, stop)
    if args.guard_fd >= 0:
        while os.read(args.guard_fd, 64):
            pass
        stop()
    server.wait()


if __name__ == "__main__":
    main()
