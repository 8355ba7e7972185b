#!/usr/bin/env python3
"""Every relative link and #anchor of the manual (README.md and docs/*.md) leads somewhere.

    python3 scripts/conferir_links.py [<repository>]

A link is checked when it has no scheme (http:, mailto:...): its file or folder must exist,
relative to the page it is in, and an anchor into a Markdown page must name one of that page's
headings as GitHub makes their anchors (lowercase, blanks as '-', punctuation but '-' and '_'
dropped, accented letters kept, a repeated heading numbered -1, -2...). Prints each broken link
with its page and line and ends with 1 when there is one."""
import pathlib
import re
import sys
import urllib.parse

CERCA = re.compile(r"^ {0,3}(```|~~~)")
TITULO = re.compile(r"^ {0,3}(#{1,6})[ \t]+(.*?)(?:[ \t]+#+)?[ \t]*$")
CODIGO = re.compile(r"(`+)(.+?)\1")
LINK = re.compile(r"\]\(\s*(<[^>]*>|[^)\s]*)")
DEFINICAO = re.compile(r"^ {0,3}\[[^\]]+\]:\s*(\S+)")
HTML = re.compile(r"""(?:href|src)\s*=\s*["']([^"']*)["']""")
ESQUEMA = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*:")


def linhas_fora_de_codigo(texto):
    """(number, line) of each line outside fenced code blocks."""
    dentro = None
    for n, linha in enumerate(texto.split("\n"), 1):
        m = CERCA.match(linha)
        if m:
            if dentro is None:
                dentro = m.group(1)
            elif m.group(1) == dentro:
                dentro = None
            continue
        if dentro is None:
            yield n, linha


def ancora(titulo):
    """The anchor GitHub gives a heading: from its text as shown, not its Markdown."""
    texto = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", titulo)  # a link or a picture: its text
    texto = CODIGO.sub(lambda m: m.group(2), texto)
    texto = re.sub(r"<[^>]+>", "", texto)
    texto = re.sub(r"[*~]", "", texto)
    texto = re.sub(r"[^\w\- ]", "", texto.lower())
    return texto.replace(" ", "-")


def ancoras(pagina):
    vistas, feitas = {}, set()
    for _, linha in linhas_fora_de_codigo(pagina.read_text(encoding="utf-8")):
        m = TITULO.match(linha)
        if not m:
            continue
        base = ancora(m.group(2))
        n = vistas.get(base, 0)
        vistas[base] = n + 1
        feitas.add(base if n == 0 else "%s-%d" % (base, n))
    return feitas


def alvos(pagina):
    """(line, target) of every link, picture and reference in the page, code aside."""
    for n, linha in linhas_fora_de_codigo(pagina.read_text(encoding="utf-8")):
        sem_codigo = CODIGO.sub("", linha)
        for padrao in (LINK, DEFINICAO, HTML):
            for m in padrao.finditer(sem_codigo):
                yield n, m.group(1).strip("<>")


def conferir(raiz):
    paginas = [raiz / "README.md"] + sorted((raiz / "docs").glob("*.md"))
    cache, quebrados = {}, []
    for pagina in paginas:
        for n, alvo in alvos(pagina):
            if not alvo or ESQUEMA.match(alvo):
                continue
            caminho, _, nome = alvo.partition("#")
            destino = (pagina.parent / urllib.parse.unquote(caminho)).resolve() if caminho else pagina
            onde = "%s:%d: %s" % (pagina.relative_to(raiz), n, alvo)
            if not destino.exists():
                quebrados.append("%s: %s não existe" % (onde, caminho))
            elif nome and destino.suffix == ".md":
                if destino not in cache:
                    cache[destino] = ancoras(destino)
                if urllib.parse.unquote(nome) not in cache[destino]:
                    quebrados.append("%s: nenhum título de %s tem a âncora #%s"
                                     % (onde, destino.name, nome))
    return paginas, quebrados


def main():
    raiz = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent)
    paginas, quebrados = conferir(raiz.resolve())
    for q in quebrados:
        print(q, file=sys.stderr)
    if quebrados:
        print("%d link(s) quebrado(s)" % len(quebrados), file=sys.stderr)
        return 1
    print("%d páginas, todos os links levam a algum lugar" % len(paginas))
    return 0


if __name__ == "__main__":
    sys.exit(main())
