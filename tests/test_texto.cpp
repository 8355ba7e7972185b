// Scrambling, accent stripping, machine name and the number conversions of settings text.
#include "settings/codificacao.h"
#include "settings/conversao.h"
#include "settings/cripto.h"
#include "settings/texto.h"

#include <gtest/gtest.h>
#include <random>

using namespace kelvane;

namespace {

std::string Aleatorio1252(std::mt19937& gerador, std::size_t tamanho) {
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<char32_t> pontos;
    for (std::size_t i = 0; i < tamanho; ++i) {
        pontos.push_back(PontoCp1252(static_cast<std::uint8_t>(byte(gerador))));
    }
    return CodificarUtf8(pontos);
}

TEST(Cripto, AutoInversoEMantemTamanho) {
    std::mt19937 gerador(20261206);
    std::uniform_int_distribution<std::size_t> tamanho(0, kTamanhoMaximoCripto);
    for (int i = 0; i < 2000; ++i) {
        const std::string texto = Aleatorio1252(gerador, i == 0 ? 506 : tamanho(gerador));
        const std::string embaralhado = Cripto(texto);
        ASSERT_EQ(DecodificarUtf8(embaralhado).size(), DecodificarUtf8(texto).size());
        ASSERT_EQ(Cripto(embaralhado), texto);
    }
    EXPECT_EQ(Cripto(""), "");
}

TEST(Cripto, ChaveFixadaPorUmParConhecido) {
    EXPECT_EQ(Cripto("Senha123"), "Qdmcd116");
    EXPECT_EQ(Cripto("ção"), "åâl"); // Windows-1252 codes, not UTF-8 bytes
    // The sixth key letter is 'p' (low four bits zero), as is every 23rd after it.
    const std::string x(60, 'x');
    const auto saida = Cripto(x);
    EXPECT_EQ(saida[5], 'x');
    EXPECT_EQ(saida[28], 'x');
    EXPECT_EQ(saida[51], 'x');
    EXPECT_NE(saida[4], 'x');
}

TEST(Cripto, LimiteDe506Caracteres) {
    EXPECT_NO_THROW(Cripto(std::string(506, 'a')));
    EXPECT_THROW(Cripto(std::string(507, 'a')), ErroCripto);
    // The limit counts characters, not UTF-8 bytes.
    std::string acentos;
    for (int i = 0; i < 506; ++i) {
        acentos += "é";
    }
    EXPECT_NO_THROW(Cripto(acentos));
    try {
        Cripto(std::string(40000, 'a'));
        FAIL();
    } catch (const ErroCripto& e) {
        EXPECT_EQ(e.tamanho(), 40000u);
    }
}

TEST(Cripto, TextoImprimivelContinuaNumaLinha) {
    std::string texto;
    for (int c = 0x20; c <= 0x7E; ++c) {
        texto += static_cast<char>(c);
    }
    for (char32_t c = 0xA0; c <= 0xFF; ++c) {
        AcrescentarUtf8(texto, c);
    }
    const auto pontos = DecodificarUtf8(Cripto(texto));
    for (std::size_t i = 0; i < pontos.size(); ++i) {
        const auto antes = CodigoCp1252(DecodificarUtf8(texto)[i]);
        const auto depois = CodigoCp1252(pontos[i]);
        EXPECT_GE(depois, 0x20);
        EXPECT_EQ(antes & 0xF0, depois & 0xF0);
    }
}

TEST(Cripto, RegraNCripto) {
    EXPECT_TRUE(NCriptoEmVigor("1"));
    EXPECT_TRUE(NCriptoEmVigor(" 1 "));
    EXPECT_TRUE(NCriptoEmVigor("1.0"));
    EXPECT_TRUE(NCriptoEmVigor("0.6"));
    EXPECT_TRUE(NCriptoEmVigor("1.5") == false); // rounds half to even: 2
    EXPECT_FALSE(NCriptoEmVigor("0.5"));
    EXPECT_FALSE(NCriptoEmVigor(""));
    EXPECT_FALSE(NCriptoEmVigor("sim"));
    EXPECT_FALSE(NCriptoEmVigor("1x"));
    EXPECT_FALSE(NCriptoEmVigor("2"));
    EXPECT_EQ(AplicarNCripto("Senha123", true), "Senha123");
    EXPECT_EQ(AplicarNCripto("Senha123", false), "Qdmcd116");
    EXPECT_EQ(AplicarNCripto("", false), "");
    EXPECT_THROW(AplicarNCripto(std::string(507, 'a'), false), ErroCripto);
    EXPECT_NO_THROW(AplicarNCripto(std::string(507, 'a'), true));
}

TEST(Conversao, InteiraENumerica) {
    EXPECT_EQ(ConversaoInteira("2.5"), 2);
    EXPECT_EQ(ConversaoInteira("3.5"), 4);
    EXPECT_EQ(ConversaoInteira("-0.5"), 0);
    EXPECT_EQ(ConversaoInteira("-1.5"), -2);
    EXPECT_EQ(ConversaoInteira(" 7 "), 7);
    EXPECT_EQ(ConversaoInteira("1e1"), 10);
    EXPECT_EQ(ConversaoInteira("abc"), std::nullopt);
    EXPECT_EQ(ConversaoInteira(""), std::nullopt);
    EXPECT_EQ(ConversaoInteira("."), std::nullopt);
    EXPECT_EQ(ConversaoInteira("99999999999"), std::nullopt);
    EXPECT_EQ(ValorNumerico("1.0"), 1.0);
    EXPECT_EQ(ValorNumerico("  12abc"), 12.0);
    EXPECT_EQ(ValorNumerico("abc"), 0.0);
    EXPECT_EQ(ValorNumerico(""), 0.0);
    EXPECT_EQ(ArredondarPar(ValorNumerico("0.5")), 0);
    EXPECT_EQ(ArredondarPar(ValorNumerico("1.5")), 2);
}

TEST(Conversao, Datas) {
    std::tm m{};
    m.tm_year = 126, m.tm_mon = 0, m.tm_mday = 3, m.tm_hour = 9, m.tm_min = 5, m.tm_sec = 7;
    EXPECT_EQ(TextoDataHora(m), "03/01/2026 09:05:07");
    EXPECT_EQ(TextoDataGeral(m), "03/01/2026 09:05:07");
    m.tm_hour = m.tm_min = m.tm_sec = 0;
    EXPECT_EQ(TextoDataGeral(m), "03/01/2026");
}

TEST(RemoverAcentos, Exemplos) {
    EXPECT_EQ(RemoverAcentos("São João"), "Sao Joao");
    EXPECT_EQ(RemoverAcentos("AÇÃO"), "ACAO");
    EXPECT_EQ(RemoverAcentos("Nº 5"), "No 5");
    EXPECT_EQ(RemoverAcentos("1ª via"), "1a via");
    EXPECT_EQ(RemoverAcentos("D'Ávila & Filhos Ltda."), "DAvila  Filhos Ltda");
    EXPECT_EQ(RemoverAcentos("C:\\Dados/backup-01"), "CDadosbackup01");
    EXPECT_EQ(RemoverAcentos("a_b, c"), "a_b, c");
    EXPECT_EQ(RemoverAcentos("Ångström"), "Ångstrom");
    EXPECT_EQ(RemoverAcentos(""), "");
}

TEST(RemoverAcentos, TabelaCompleta) {
    const std::vector<std::pair<std::string, std::string>> tabela = {
        {"ÁÀÂÄÃ", "AAAAA"},
        {"ÉÈÊË", "EEEE"},
        {"ÍÌÎÏ", "IIII"},
        {"ÓÒÔÖÕ", "OOOOO"},
        {"ÚÙÛÜ", "UUUU"},
        {"Ç", "C"},
        {"Ñ", "N"},
        {"áàâäãª", "aaaaaa"},
        {"éèêë", "eeee"},
        {"íìîï", "iiii"},
        {"óòôöõº", "oooooo"},
        {"úùûü", "uuuu"},
        {"ç", "c"},
        {"ñ", "n"},
        {"'-@#%&*()!;:\\[]{}.|=/+", ""},
        // Untouched: blanks, digits and the rest of the punctuation, letters outside the table,
        // combining marks.
        {" 09_,\"$?<>~^\t", " 09_,\"$?<>~^\t"},
        {"ÅÆØÝýÿß", "ÅÆØÝýÿß"},
        {"e\u0301", "e\u0301"},
    };
    for (const auto& [entrada, esperado] : tabela) {
        EXPECT_EQ(RemoverAcentos(entrada), esperado) << entrada;
    }
}

TEST(NomeComputador, SemPontoNulOuBrancos) {
    const std::string nome = NomeComputador();
    EXPECT_FALSE(nome.empty());
    EXPECT_EQ(nome.find('\0'), std::string::npos);
    EXPECT_EQ(nome.find('.'), std::string::npos);
    EXPECT_NE(nome.front(), ' ');
    EXPECT_NE(nome.back(), ' ');
}

} // namespace
