// One upload with the transfer unit, as the job makes it (temporary name, size, rename):
// envio_bench <ftpes|ftps|sftp> <host> <port> <user> <password> <folder> <file> [CA | host key]
#include "plataforma/transferencia.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    using namespace kelvane::plataforma;
    if (argc < 8) {
        std::fprintf(stderr, "uso: envio_bench esquema host porta usuario senha pasta arquivo "
                             "[ca|chave]\n");
        return 2;
    }
    const std::string esquema = argv[1];
    DestinoTransferencia d;
    d.esquema = esquema == "sftp"   ? Esquema::Sftp
                : esquema == "ftps" ? Esquema::Ftps
                                    : Esquema::Ftpes;
    d.host = argv[2];
    d.porta = argv[3];
    d.usuario = argv[4];
    d.senha = argv[5];
    d.diretorio = argv[6];
    if (argc > 8) {
        if (d.esquema == Esquema::Sftp) {
            d.chaveHost = argv[8];
        } else {
            d.certificado = argv[8];
        }
    }
    const std::filesystem::path arquivo = argv[7];
    const std::string nome = arquivo.filename().string();
    Transferencia t(d);
    TamanhoRemoto tamanho;
    auto f = t.Enviar(arquivo, nome + ".parcial");
    if (!f) {
        f = t.Tamanho(nome + ".parcial", tamanho);
    }
    if (!f) {
        f = t.Renomear(nome + ".parcial", nome);
    }
    if (f) {
        std::fprintf(stderr, "%s\n", f->motivo.c_str());
        return 1;
    }
    return 0;
}
