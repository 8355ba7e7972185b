#!/usr/bin/python3
"""Upload of one 256 MB archive to servers on 127.0.0.1: plain FTP with ncftpput (pyftpdlib)
against FTPES (vsftpd) and SFTP (sshd) with the transfer unit (build/bench/envio_bench), in
alternating rounds; prints the median time of each and the ratios to ncftpput. Root only (the
servers run as a test account). Usage: bench/envio.py [build folder] [rounds]"""

import os
import statistics
import subprocess
import sys
import tempfile
import time

RAIZ = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SERV = os.path.join(RAIZ, "tests", "servers")
build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(RAIZ, "build")
rodadas = int(sys.argv[2]) if len(sys.argv) > 2 else 3
SENHA = "senha da bancada"


def servidor(*args):
    p = subprocess.Popen(["/usr/bin/python3", "-I", *args], stdout=subprocess.PIPE, text=True)
    return p, int(p.stdout.readline().split()[1])


with tempfile.TemporaryDirectory() as d:
    os.chmod(d, 0o711)
    raiz, chaves = os.path.join(d, "ftp"), os.path.join(d, "chaves")
    os.makedirs(raiz)
    os.makedirs(chaves)
    arquivo = os.path.join(d, "arquivo.7z")
    with open(arquivo, "wb") as f:  # incompressible, as an archive is
        f.write(os.urandom(256 * 1024 * 1024))
    ftp = servidor(os.path.join(SERV, "ftp_server.py"), "--root=" + raiz, "--user=kelvane",
                   "--password=" + SENHA)
    tls = servidor(os.path.join(SERV, "cifrado_server.py"), "--mode=ftpes", "--dir=" + chaves,
                   "--root=" + raiz, "--password=" + SENHA)
    ssh = servidor(os.path.join(SERV, "cifrado_server.py"), "--mode=sftp", "--dir=" + chaves,
                   "--root=" + raiz, "--password=" + SENHA)
    impressao = subprocess.run(["ssh-keygen", "-lf", os.path.join(chaves, "chave_host.pub")],
                               capture_output=True, text=True).stdout.split()[1]
    login = os.path.join(d, "login.cfg")
    with open(login, "w") as f:
        f.write("host 127.0.0.1\nuser kelvane\npass %s\n" % SENHA)
    bench = os.path.join(build, "bench", "envio_bench")
    comandos = {
        "ncftpput": ["ncftpput", "-f", login, "-P", str(ftp[1]), "-F", "-S", ".parcial", "--",
                     "/", arquivo],
        "ftpes": [bench, "ftpes", "localhost", str(tls[1]), "kelvaneteste", SENHA, raiz, arquivo,
                  os.path.join(chaves, "ca.crt")],
        "sftp": [bench, "sftp", "127.0.0.1", str(ssh[1]), "kelvaneteste", SENHA, raiz, arquivo,
                 impressao],
    }
    tempos = {k: [] for k in comandos}
    try:
        for _ in range(rodadas):
            for nome, cmd in comandos.items():
                inicio = time.monotonic()
                subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
                tempos[nome].append(time.monotonic() - inicio)
                os.remove(os.path.join(raiz, "arquivo.7z"))
    finally:
        for p, _ in (ftp, tls, ssh):
            p.terminate()
            p.wait()
    base = statistics.median(tempos["ncftpput"])
    for nome, t in tempos.items():
        print("%-8s mediana %6.2f s  razão %.2f (meta <= 1.10)" % (
            nome, statistics.median(t), statistics.median(t) / base))
