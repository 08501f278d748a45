// Brazilian Portuguese readings in the English model's phones, from espeak-ng's phoneme mnemonics.
#include <gtest/gtest.h>

#include "platform/linux/PortuguesePhones.hpp"

using earshot::linux_platform::accented;
using earshot::linux_platform::portugueseReadings;

TEST(PortugueseReadings, MapEspeakPhonemesOntoEnglishPhonesWithTheDoubtfulSoundsVaried) {
  struct Case {
    const char* word;
    const char* phonemes;  // as espeak-ng -x -v pt-br prints them
    std::vector<std::string> readings;
  };
  const std::vector<Case> cases{
      // final r: r, h or nothing
      {"abrir", "abR'i*", {"AA B R IY R", "AA B R IY HH", "AA B R IY"}},
      // rr: h first, then r; final unstressed o
      {"carro", "k'axU", {"K AA HH UW", "K AA R UW", "K AA R UH"}},
      // nh, final unstressed a
      {"minha", "m'in^&", {"M IY N Y AH", "M IY N Y AA"}},
      // the tap between vowels; before a consonant it closes the syllable, and the faint vowel
      // espeak-ng puts after it is left out
      {"cara", "k'a*&", {"K AA D AH", "K AA R AH", "K AA R AA"}},
      {"verde", "v'e*@-dZy", {"V EY R JH IY", "V EY HH JH IY", "V EY HH JH IH"}},
      // ão, and a nasal vowel before a written nasal says N once
      {"transmissao", "tR,&~Nzmis'&U~", {"T R AH N Z M IY S AW N", "T R AA NG Z M IY S AW NG"}},
      // nasal coda before p and b is M
      {"gimp", "Z'imp", {"ZH IY M P"}},
      // diphthongs: oi, ei before a nasal, eu; final l as w
      {"dois", "d'oIs#", {"D OY S"}},
      {"agenda", ",aZ'eINd&", {"AA ZH EY N D AH", "AA ZH EY N D AA", "AH ZH EY NG D AA"}},
      {"meu", "m'eU", {"M EY W", "M EH W"}},
      {"azul", "az'uw", {"AA Z UW W", "AH Z UW W"}},
      // lh, open o, ch and sh sounds
      {"vermelho",
       "v,e*@-m'eljU",
       {"V EY R M EY L Y UW", "V EY HH M EY L Y UW", "V EY HH M EY L Y UH"}},
      {"chave", "S'avy", {"SH AA V IY", "SH AA V IH", "SH AH V IH"}},
      {"nothing", "'_:", {}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(portugueseReadings(c.phonemes), c.readings) << c.word << " " << c.phonemes;
  EXPECT_EQ(portugueseReadings("abR'i*", 1), (std::vector<std::string>{"AA B R IY R"}));
}

TEST(PortugueseReadings, AccentsThatFoldingTookAwayComeBackWhereTheyChangeTheSound) {
  const std::vector<std::pair<std::string, std::string>> cases{{"configuracoes", "configurações"},
                                                               {"transmissao", "transmissão"},
                                                               {"opcoes", "opções"},
                                                               {"paes", "pães"},
                                                               {"botao", "botão"},
                                                               {"calculadora", "calculadora"},
                                                               {"ao", "ao"},
                                                               {"", ""}};
  for (const auto& [plain, written] : cases) EXPECT_EQ(accented(plain), written) << plain;
}
