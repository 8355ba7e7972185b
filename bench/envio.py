#!/usr/bin/python3
"""Upload of one 256 MB archive: plain FTP with ncftpput (pyftpdlib) against FTPES (vsftpd) and
SFTP (sshd) with the transfer unit (build/bench/envio_bench), in alternating rounds; prints the
median time of each and the ratios to ncftpput, twice: over 127.0.0.1 as it is, then over a link
of 100 Mbit/s (the loopback of a network namespace of its own, MTU 1500, limited with tc's tbf),
servers and clients inside it. The second figure is skipped, with the reason, where the machine
refuses the namespace or the limit. Root only (the servers run as a test account).
Usage: bench/envio.py [build folder] [rounds]"""

import os
import statistics
import subprocess
import sys
import tempfile
import time

RAIZ = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SERV = os.path.join(RAIZ, "tests", "servers")
build = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else os.path.join(RAIZ, "build")
rodadas = int(sys.argv[2]) if len(sys.argv) > 2 else 3
ENLACE = "--enlace" in sys.argv  # inside the namespace: limit its loopback first
SENHA = "senha da bancada"
CONTA = "kelvanebancada"  # not the tests' account, whose password a test run may be setting
TAXA = "100mbit"


def servidor(*args):
    p = subprocess.Popen(["/usr/bin/python3", "-I", *args], stdout=subprocess.PIPE, text=True)
    return p, int(p.stdout.readline().split()[1])


def medir(titulo):
    with tempfile.TemporaryDirectory() as d:
        os.chmod(d, 0o711)
        raiz, chaves = os.path.join(d, "ftp"), os.path.join(d, "chaves")
        os.makedirs(raiz)
        os.makedirs(chaves)
        arquivo = os.path.join(d, "arquivo.7z")
        with open(arquivo, "wb") as f:  # incompressible, as an archive is
            f.write(os.urandom(256 * 1024 * 1024))
        ftp = servidor(os.path.join(SERV, "ftp_server.py"), "--root=" + raiz,
                       "--user=kelvane", "--password=" + SENHA)
        tls = servidor(os.path.join(SERV, "cifrado_server.py"), "--mode=ftpes",
                       "--dir=" + chaves, "--root=" + raiz, "--password=" + SENHA, "--user=" + CONTA)
        ssh = servidor(os.path.join(SERV, "cifrado_server.py"), "--mode=sftp",
                       "--dir=" + chaves, "--root=" + raiz, "--password=" + SENHA, "--user=" + CONTA)
        impressao = subprocess.run(["ssh-keygen", "-lf", os.path.join(chaves, "chave_host.pub")],
                                   capture_output=True, text=True).stdout.split()[1]
        login = os.path.join(d, "login.cfg")
        with open(login, "w") as f:
            f.write("host 127.0.0.1\nuser kelvane\npass %s\n" % SENHA)
        bench = os.path.join(build, "bench", "envio_bench")
        comandos = {
            "ncftpput": ["ncftpput", "-f", login, "-P", str(ftp[1]), "-F", "-S", ".parcial",
                         "--", "/", arquivo],
            "ftpes": [bench, "ftpes", "localhost", str(tls[1]), CONTA, SENHA, raiz,
                      arquivo, os.path.join(chaves, "ca.crt")],
            "sftp": [bench, "sftp", "127.0.0.1", str(ssh[1]), CONTA, SENHA, raiz,
                     arquivo, impressao],
        }
        tempos = {k: [] for k in comandos}
        try:
            for _ in range(rodadas):
                for nome, cmd in comandos.items():
                    inicio = time.monotonic()
                    # ncftpput's progress meter goes to stderr
                    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL if nome == "ncftpput" else None)
                    tempos[nome].append(time.monotonic() - inicio)
                    os.remove(os.path.join(raiz, "arquivo.7z"))
        finally:
            for p, _ in (ftp, tls, ssh):
                p.terminate()
                p.wait()
    print(titulo)
    base = statistics.median(tempos["ncftpput"])
    for nome, t in tempos.items():
        print("  %-8s mediana %6.2f s  razão %.2f (meta <= 1.10)  rodadas: %s" % (
            nome, statistics.median(t), statistics.median(t) / base,
            " ".join("%.2f" % x for x in t)), flush=True)


if ENLACE:
    for passo in (["ip", "link", "set", "lo", "up"], ["ip", "link", "set", "lo", "mtu", "1500"],
                  ["tc", "qdisc", "add", "dev", "lo", "root", "tbf", "rate", TAXA, "burst",
                   "64kb", "latency", "50ms"]):
        r = subprocess.run(passo, capture_output=True, text=True)
        if r.returncode != 0:
            print("enlace de %s: não medido (%s: %s)" % (TAXA, " ".join(passo),
                                                        r.stderr.strip()))
            sys.exit(0)
    medir("enlace de %s (namespace de rede próprio, MTU 1500):" % TAXA)
    sys.exit(0)

medir("127.0.0.1, sem limite:")
r = subprocess.run(["unshare", "--net", sys.executable, os.path.abspath(__file__), build,
                    str(rodadas), "--enlace"], stderr=subprocess.PIPE, text=True)
if r.returncode != 0:
    print("enlace de %s: não medido (unshare --net: %s)" % (TAXA, r.stderr.strip()[-300:]))
