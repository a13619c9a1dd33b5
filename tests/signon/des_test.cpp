#include "signon/des.h"

#include <gtest/gtest.h>

#include <array>
#include <thread>
#include <vector>

#include "tests/signon/bytes.h"

namespace zw {
namespace {

using test::hex8;
using test::toHex;

struct KnownAnswer {
  const char* key;
  const char* plaintext;
  const char* ciphertext;
};

std::string encrypt(const KnownAnswer& v) {
  const auto key = hex8(v.key);
  const auto in = hex8(v.plaintext);
  std::array<std::uint8_t, 8> out{};
  desEncryptBlock(key.data(), in.data(), out.data());
  return toHex(out);
}

void expectAll(const std::vector<KnownAnswer>& vectors) {
  for (const auto& v : vectors) {
    SCOPED_TRACE(std::string(v.key) + " / " + v.plaintext);
    EXPECT_EQ(encrypt(v), v.ciphertext);
  }
}

TEST(DesTest, WorkedExamples) {
  expectAll({
      // "Now is the time for all " in ECB mode.
      {"0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},
      {"0123456789ABCDEF", "68652074696D6520", "6A271787AB8883F9"},
      {"0123456789ABCDEF", "666F7220616C6C20", "893D51EC4B563B53"},
      {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
  });
}

TEST(DesTest, VariablePlaintextKnownAnswers) {
  expectAll({
      {"0101010101010101", "8000000000000000", "95F8A5E5DD31D900"},
      {"0101010101010101", "4000000000000000", "DD7F121CA5015619"},
      {"0101010101010101", "2000000000000000", "2E8653104F3834EA"},
      {"0101010101010101", "1000000000000000", "4BD388FF6CD81D4F"},
      {"0101010101010101", "0800000000000000", "20B9E767B2FB1456"},
      {"0101010101010101", "0400000000000000", "55579380D77138EF"},
      {"0101010101010101", "0200000000000000", "6CC5DEFAAF04512F"},
      {"0101010101010101", "0100000000000000", "0D9F279BA5D87260"},
      {"0101010101010101", "0000000000000001", "166B40B44ABA4BD6"},
      {"0101010101010101", "0000000000000000", "8CA64DE9C1B123A7"},
  });
}

TEST(DesTest, VariableKeyKnownAnswers) {
  expectAll({
      {"8001010101010101", "0000000000000000", "95A8D72813DAA94D"},
      {"4001010101010101", "0000000000000000", "0EEC1487DD8C26D5"},
      {"2001010101010101", "0000000000000000", "7AD16FFB79C45926"},
      {"1001010101010101", "0000000000000000", "D3746294CA6A6CF3"},
      {"0801010101010101", "0000000000000000", "809F5F873C1FD761"},
      {"0401010101010101", "0000000000000000", "C02FAFFEC989D1FC"},
      {"0201010101010101", "0000000000000000", "4615AA1D33E72F10"},
      {"0180010101010101", "0000000000000000", "2055123350C00858"},
      {"0101010101010102", "0000000000000000", "869EFD7F9F265A09"},
  });
}

TEST(DesTest, PermutationOperationKnownAnswers) {
  expectAll({
      {"1046913489980131", "0000000000000000", "88D55E54F54C97B4"},
      {"1007103489988020", "0000000000000000", "0C0CC00C83EA48FD"},
      {"10071034C8980120", "0000000000000000", "83BC8EF3A6570183"},
      {"1046103489988020", "0000000000000000", "DF725DCAD94EA2E9"},
  });
}

TEST(DesTest, SubstitutionTableKnownAnswers) {
  expectAll({
      {"7CA110454A1A6E57", "01A1D6D039776742", "690F5B0D9A26939B"},
      {"0131D9619DC1376E", "5CD54CA83DEF57DA", "7A389D10354BD271"},
      {"07A1133E4A0B2686", "0248D43806F67172", "868EBB51CAB4599A"},
      {"3849674C2602319E", "51454B582DDF440A", "7178876E01F19B2A"},
      {"04B915BA43FEB5B6", "42FD443059577FA2", "AF37FB421F8C4095"},
      {"0113B970FD34F2CE", "059B5E0851CF143A", "86A560F10EC6D85B"},
      {"0170F175468FB5E6", "0756D8E0774761D2", "0CD3DA020021DC09"},
      {"43297FAD38E373FE", "762514B829BF486A", "EA676B2CB7DB2B7A"},
      {"07A7137045DA2A16", "3BDD119049372802", "DFD64A815CAF1A0F"},
      {"04689104C2FD3B2F", "26955F6835AF609A", "5C513C9C4886C088"},
      {"37D06BB516CB7546", "164D5E404F275232", "0A2AEEAE3FF4AB77"},
      {"1F08260D1AC2465E", "6B056E18759F5CCA", "EF1BF03E5DFA575A"},
      {"584023641ABA6176", "004BD6EF09176062", "88BF0DB6D70DEE56"},
      {"025816164629B007", "480D39006EE762F2", "A1F9915541020B56"},
      {"49793EBC79B3258F", "437540C8698F3CFA", "6FBF1CAFCFFD0556"},
      {"4FB05E1515AB73A7", "072D43A077075292", "2F22E49BAB7CA1AC"},
      {"49E95D6D4CA229BF", "02FE55778117F12A", "5A6B612CC26CCE4A"},
      {"018310DC409B26D6", "1D9D5C5018F728C2", "5F4C038ED12B2E41"},
      {"1C587F1C13924FEF", "305532286D6F295A", "63FAC0D034D9F793"},
  });
}

// Keys made from text have arbitrary parity: only the seven high bits of
// each key byte may count.
TEST(DesTest, ParityBitsDoNotMatter) {
  const auto block = hex8("4E6F772069732074");
  for (const char* keyText : {"0123456789ABCDEF", "0000000000000000", "FEFEFEFEFEFEFEFE"}) {
    const auto key = hex8(keyText);
    std::array<std::uint8_t, 8> reference{};
    desEncryptBlock(key.data(), block.data(), reference.data());
    for (unsigned pattern = 1; pattern < 256; ++pattern) {
      auto flipped = key;
      for (int i = 0; i < 8; ++i) flipped[i] ^= (pattern >> i) & 1;
      std::array<std::uint8_t, 8> out{};
      desEncryptBlock(flipped.data(), block.data(), out.data());
      ASSERT_EQ(out, reference) << keyText << " pattern " << pattern;
    }
  }
}

TEST(DesTest, OutputMayShareStorageWithEitherInput) {
  const auto key = hex8("133457799BBCDFF1");
  const auto plain = hex8("0123456789ABCDEF");
  const auto expected = hex8("85E813540F0AB405");

  auto intoKey = key;
  desEncryptBlock(intoKey.data(), plain.data(), intoKey.data());
  EXPECT_EQ(intoKey, expected);

  auto intoBlock = plain;
  desEncryptBlock(key.data(), intoBlock.data(), intoBlock.data());
  EXPECT_EQ(intoBlock, expected);

  // Key, block and output all one buffer: DES of the key under itself.
  auto self = key;
  std::array<std::uint8_t, 8> separate{};
  desEncryptBlock(key.data(), key.data(), separate.data());
  desEncryptBlock(self.data(), self.data(), self.data());
  EXPECT_EQ(self, separate);
}

TEST(DesTest, ConcurrentCallsKeepTheirOwnState) {
  const std::vector<KnownAnswer> vectors = {
      {"0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},
      {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
      {"7CA110454A1A6E57", "01A1D6D039776742", "690F5B0D9A26939B"},
      {"8001010101010101", "0000000000000000", "95A8D72813DAA94D"},
  };
  std::vector<int> failures(vectors.size(), 0);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < vectors.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 500; ++i) {
        if (encrypt(vectors[t]) != vectors[t].ciphertext) ++failures[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (std::size_t t = 0; t < vectors.size(); ++t) EXPECT_EQ(failures[t], 0) << t;
}

}  // namespace
}  // namespace zw
