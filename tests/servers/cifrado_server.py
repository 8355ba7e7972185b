#!/usr/bin/python3
"""vsftpd (TLS required for the login and the data) or OpenSSH's sshd (SFTP) for the tests, on
127.0.0.1, with a certificate or host key made for the run in --dir, for the system account
--user (made once, without a shell, home "/") with --password. Root only.
Prints "LISTENING <port> <pid>" once ready; the daemon ends with this process."""

import argparse
import fcntl
import os
import signal
import socket
import subprocess
import sys
import time

ap = argparse.ArgumentParser(description=__doc__)
ap.add_argument("--mode", choices=["ftpes", "ftps", "sftp"], required=True)
ap.add_argument("--dir", required=True, help="keys, configuration, log")
ap.add_argument("--root", required=True, help="the folder the account may write")
ap.add_argument("--user", default="kelvaneteste")
ap.add_argument("--password", required=True)
ap.add_argument("--cert-host", default="localhost", help="the name the certificate is for")
ap.add_argument("--expired", action="store_true", help="a certificate that expired yesterday")
ap.add_argument("--tls12", action="store_true", help="TLS 1.2 at most (TLS 1.3 by default)")
ap.add_argument("--no-tls", action="store_true", help="vsftpd without TLS: AUTH answered 530")
ap.add_argument("--stall", action="store_true", help="no daemon: connections accepted, unanswered")
ap.add_argument("--host-keys", default="ecdsa,rsa,ed25519",
                help="the SSH host key types offered; the first is chave_host")
args = ap.parse_args()
d = os.path.realpath(args.dir)


def run(*cmd, **kw):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kw)


# The account: one for every run, made under a lock.
with open("/run/kelvane-teste-conta.lock", "w") as trava:
    fcntl.flock(trava, fcntl.LOCK_EX)
    if subprocess.run(["id", args.user], stdout=subprocess.DEVNULL,
                      stderr=subprocess.DEVNULL).returncode != 0:
        run("useradd", "--system", "--no-create-home", "--home-dir", "/", "--shell",
            "/usr/sbin/nologin", args.user)
    run("chpasswd", input=("%s:%s\n" % (args.user, args.password)).encode())
    # vsftpd's own PAM service wants a shell from /etc/shells: this one asks only the password.
    with open("/etc/pam.d/kelvane-teste", "w") as pam:
        pam.write("auth required pam_unix.so\naccount required pam_unix.so\n"
                  "session required pam_permit.so\n")
run("chown", "-R", args.user, args.root)

s = socket.socket()
s.bind(("127.0.0.1", 0))
porta = s.getsockname()[1]
log = os.path.join(d, "servidor.log")
open(log, "w").close()
if args.stall:
    s.listen()
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    print("LISTENING %d %d" % (porta, os.getpid()), flush=True)
    abertas = []
    while True:
        abertas.append(s.accept()[0])
s.close()

if args.mode == "sftp":
    # By default the host key types a Debian install makes (ssh-keygen -A), ECDSA first: the type
    # libssh2 asks for first, so the one a client is shown. chave_host is the first one offered.
    tipos = args.host_keys.split(",")
    chaves = {t: os.path.join(d, "chave_host" + ("_" + t if i else "")) for i, t in enumerate(tipos)}
    for tipo, chave in chaves.items():
        if not os.path.exists(chave):
            run("ssh-keygen", "-q", "-t", tipo, "-N", "", "-f", chave)
    linhas_chave = "".join("HostKey %s\n" % c for c in chaves.values())
    os.makedirs("/run/sshd", mode=0o755, exist_ok=True)  # privilege separation
    conf = os.path.join(d, "sshd_config")
    with open(conf, "w") as f:
        f.write(f"ListenAddress 127.0.0.1:{porta}\n{linhas_chave}PidFile none\nUsePAM no\n"
                "PasswordAuthentication yes\nKbdInteractiveAuthentication no\n"
                f"PubkeyAuthentication no\nPermitRootLogin no\nAllowUsers {args.user}\n"
                "StrictModes no\nLogLevel VERBOSE\nSubsystem sftp internal-sftp\n"
                "ForceCommand internal-sftp\n")
    comando = ["/usr/sbin/sshd", "-D", "-e", "-f", conf]
else:
    chave, cert = os.path.join(d, "servidor.key"), os.path.join(d, "servidor.crt")
    conf = os.path.join(d, "vsftpd.conf")
    implicito = args.mode == "ftps"
    # The test CA (ca.crt, what CertificadoFTP names) and the server's certificate it signs.
    ca, ca_chave = os.path.join(d, "ca.crt"), os.path.join(d, "ca.key")
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    # The CA signs with RSA: under Wine the chain check now and then refuses a valid ECDSA
    # signature (error mask 0x8), whose length changes from one signature to the next.
    if not os.path.exists(ca):
        run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca_chave, "-out",
            ca, "-days", "30", "-subj", "/CN=Kelvane Teste CA")
    pedido, ext = os.path.join(d, "servidor.csr"), os.path.join(d, "servidor.ext")
    with open(ext, "w") as f:
        f.write("subjectAltName=DNS:%s\n" % args.cert_host)
    run("openssl", "req", *ec, "-keyout", chave, "-out", pedido, "-subj", "/CN=" + args.cert_host)
    run("openssl", "x509", "-req", "-in", pedido, "-CA", ca, "-CAkey", ca_chave,
        "-CAcreateserial", "-out", cert, "-days", "-1" if args.expired else "30", "-extfile", ext)
    os.makedirs("/var/run/vsftpd/empty", exist_ok=True)
    with open(conf, "w") as f:
        f.write(f"listen=YES\nlisten_address=127.0.0.1\nlisten_port={porta}\nbackground=NO\n"
                "anonymous_enable=NO\nlocal_enable=YES\nwrite_enable=YES\n"
                "pam_service_name=kelvane-teste\nseccomp_sandbox=NO\n"
                f"ssl_enable={'NO' if args.no_tls else 'YES'}\n"
                f"implicit_ssl={'YES' if implicito else 'NO'}\nforce_local_logins_ssl=YES\n"
                "force_local_data_ssl=YES\nrequire_ssl_reuse=NO\nssl_tlsv1=NO\nssl_sslv2=NO\n"
                f"ssl_sslv3=NO\nssl_ciphers=HIGH\nrsa_cert_file={cert}\n"
                f"rsa_private_key_file={chave}\npasv_address=127.0.0.1\npasv_min_port=0\n"
                f"pasv_max_port=0\nlog_ftp_protocol=YES\nvsftpd_log_file={log}\n"
                "xferlog_enable=YES\ndual_log_enable=YES\nxferlog_std_format=NO\n")
    comando = ["/usr/sbin/vsftpd", conf]
    if args.tls12:
        ossl = os.path.join(d, "openssl.cnf")
        with open(ossl, "w") as f:
            f.write("openssl_conf = inicio\n[inicio]\nssl_conf = ssl\n[ssl]\nsystem_default = "
                    "padrao\n[padrao]\nMaxProtocol = TLSv1.2\n")
        os.environ["OPENSSL_CONF"] = ossl

filho = subprocess.Popen(comando, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                         stderr=open(log, "a"))
signal.signal(signal.SIGTERM, lambda *_: (filho.kill(), os._exit(0)))
for _ in range(500):  # until it listens
    try:
        socket.create_connection(("127.0.0.1", porta), timeout=1).close()
        break
    except OSError:
        if filho.poll() is not None:
            sys.exit("o servidor terminou: " + open(log).read())
        time.sleep(0.02)
print("LISTENING %d %d" % (porta, os.getpid()), flush=True)
filho.wait()
