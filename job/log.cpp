#include "log.h"

#include "../settings/conversao.h"
#include "observador.h"
#include "programa.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace kelvane {

std::string ArquivoLog;

std::string NomeArquivoLog(const std::tm& m) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "Log_%02d%02d%02d_%02d%02d.Log", m.tm_mday, m.tm_mon + 1,
                  (m.tm_year + 1900) % 100, m.tm_hour, m.tm_min);
    return buf;
}

void GravarLog(const std::string& Mensagem, const ObservadorJob* observador) {
    if (observador && observador->mensagem) {
        observador->mensagem(Mensagem);
    }
    const auto caminho = PastaPrograma() / "Log" / ArquivoLog;
    // One message, one line: a server's or a tool's text with line breaks must not add lines
    // of its own (a false "Fim do Processo").
    std::string texto = Mensagem;
    for (char& c : texto) {
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
            c = ' ';
        }
    }
    const std::string linha = TextoDataHora(AgoraLocal()) + " : " + texto + "\n";
    const int fd =
        ::open(caminho.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        throw ErroLog("não foi possível abrir o log " + caminho.string() + ": " +
                      std::strerror(errno));
    }
    // One write per line: with O_APPEND two processes logging to the same file never
    // interleave inside a line.
    std::size_t escrito = 0;
    int erro = 0;
    while (escrito < linha.size()) {
        const ssize_t n = ::write(fd, linha.data() + escrito, linha.size() - escrito);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            erro = n < 0 ? errno : EIO;
            break;
        }
        escrito += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 && erro == 0) {
        erro = errno;
    }
    if (erro != 0) {
        throw ErroLog("não foi possível gravar no log " + caminho.string() + ": " +
                      std::strerror(erro));
    }
}

} // namespace kelvane
