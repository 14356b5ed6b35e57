#include "skim/call_extractor.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

namespace kestrix::skim {
namespace {

// What a transcript gives: each spot-ready call with its final type.
std::map<std::string, SpotKind> Extract(const std::string& text, const CallBook& book,
                                        size_t chunk = 3) {
  CallExtractor extractor(book);
  std::vector<CallReport> reports;
  double t = 0;
  // Fed in small pieces, as a decoder streams it.
  for (size_t i = 0; i < text.size(); i += chunk) {
    t += 0.2;
    extractor.Feed(text.substr(i, chunk), t);
  }
  extractor.Flush(t);
  extractor.TakeReports(reports);
  std::map<std::string, SpotKind> out;
  for (const CallReport& r : reports) out[r.call] = r.kind;
  return out;
}

constexpr SpotKind CQ = SpotKind::Cq;
constexpr SpotKind DX = SpotKind::Dx;
constexpr SpotKind BEACON = SpotKind::Beacon;

struct Transcript {
  const char* name;
  const char* text;
  std::map<std::string, SpotKind> spots;
};

TEST(CallExtractor, ContextsTable) {
  const Transcript cases[] = {
      {"plain CQ", "CQ CQ DE K1ABC K1ABC K", {{"K1ABC", CQ}}},
      {"contest CQ", "CQ TEST K1ABC K1ABC TEST", {{"K1ABC", CQ}}},
      {"CQ once, heard twice", "CQ TEST K1ABC  CQ TEST K1ABC", {{"K1ABC", CQ}}},
      {"runner between contacts", "K1ABC TEST  TU K1ABC TEST", {{"K1ABC", CQ}}},
      {"CQ DX", "CQ DX K1ABC CQ DX K1ABC", {{"K1ABC", CQ}}},
      {"DE is the sender's", "W1AW DE K1ABC  W1AW DE K1ABC KN", {{"K1ABC", DX}}},
      {"ragchew both ways",
       "W1AW DE K1ABC KN  K1ABC DE W1AW  W1AW DE K1ABC  K1ABC DE W1AW",
       {{"K1ABC", DX}, {"W1AW", DX}}},
      {"beacon", "VVV VVV DE W1ABC W1ABC", {{"W1ABC", BEACON}}},
      {"beacon suffix", "DE K1ABC/B K1ABC/B K1ABC/B", {{"K1ABC/B", BEACON}}},
      {"beacon read after DE and once amid noise",
       "DE K1ABC/B EIE  TT K1ABC/B RT",
       {{"K1ABC/B", BEACON}}},
      {"beacon call without DE is not enough", "EIE K1ABC/B RT  TT K1ABC/B E", {}},
      {"beacon call three times without DE",
       "EIE K1ABC/B RT  TT K1ABC/B E  VVT K1ABC/B",
       {{"K1ABC/B", BEACON}}},
      {"caller doubled after a CQ is not a CQ",
       "CQ TEST K1ABC K1ABC TEST W9XYZ W9XYZ  W9XYZ 5NN 05  TU K1ABC TEST",
       {{"K1ABC", CQ}, {"W9XYZ", DX}}},
      {"caller once after TEST is not a read",
       "K1ABC TEST W9XYZ  W9XYZ 5NN 05  TU K1ABC TEST",
       {{"K1ABC", CQ}}},
      {"called station is not a read", "W9XYZ 5NN 05  W9XYZ 5NN 05  W9XYZ DE K1ABC", {}},
      {"one read is not enough", "CQ CQ DE K1ABC K", {}},
      {"noise words", "EEE TTIE 5NN K1ABC? ?K1ABC QRZ CQ ? K1ABC ? K1ABC", {}},
      {"rare shape needs three", "CQ DE K1A K1A K", {}},
      {"rare shape with three", "CQ DE K1A K1A K1A K", {{"K1A", CQ}}},
      {"rare shape merely repeated", "K1A K1A K1A K1A", {}},
      {"a decoder stuck at the wrong speed repeats a wrong word",
       "5 O MH O MHH 0DO AMH99EI MH99H MH9H MH99EI MH99H MH99H MH99H MH9H",
       {}},
      {"portable", "CQ DE DL/K1ABC DL/K1ABC DL/K1ABC", {{"DL/K1ABC", CQ}}},
      {"lower case and line ends", "cq test\r\nk1abc k1abc\ttest\n", {{"K1ABC", CQ}}},
      {"busted copy loses the vote",
       "CQ TEST K1ABC K1ABC  CQ TEST K1ABG  CQ TEST K1ABC",
       {{"K1ABC", CQ}}},
      {"a tie spots neither", "CQ TEST K1ABC  CQ TEST K1ABG", {}},
      {"the same error twice is not enough", "CQ DE K1ABG K1ABC K  CQ DE K1ABG K1ABC K", {}},
      {"the right call pulls ahead by two",
       "CQ DE K1ABG K1ABC K  CQ DE K1ABG K1ABC K  CQ DE K1ABC K1ABC K",
       {{"K1ABC", CQ}}},
      {"a variant needs a majority to be spotted",
       "CQ TEST K1ABC K1ABC  CQ TEST K1ABG K1ABG",
       {{"K1ABC", CQ}}},
      {"a long call's two-edit misread loses the vote too",
       "CQ TEST ES3UV ES3UV  CQ TEST ES3UEA ES3UEA  CQ TEST ES3UV ES3UV",
       {{"ES3UV", CQ}}},
      {"short calls two edits apart are two stations",
       "CQ DE K1AB K1AB  CQ DE K1XY K1XY",
       {{"K1AB", CQ}, {"K1XY", CQ}}},
      {"a short misread of a long call loses the vote",
       "CQ TEST K5ADW  CQ TEST K5ADW  CQ TEST K5AT  CQ TEST K5AT  CQ TEST K5AT  "
       "CQ TEST K5ADW  CQ TEST K5ADW  CQ TEST K5ADW  CQ TEST K5ADW",
       {{"K5ADW", CQ}}},
      {"a word read once two edits away does not hold a call back",
       "CQ TEST JH5AUN  CQ TEST JA5AUT  CQ TEST JH5AUN",
       {{"JH5AUN", CQ}}},
      {"unallocated prefix", "CQ DE Q1ABC Q1ABC K", {}},
      {"overlong run", "CQ DE K1ABCK1ABCK1ABCK1ABC K1ABC K1ABC", {{"K1ABC", DX}}},
      {"word gap missed after TEST", "CQ TESTK1ABC  CQ TESTK1ABC", {{"K1ABC", CQ}}},
      {"word gap missed before TEST", "K1ABCTEST  TU K1ABCTEST", {{"K1ABC", CQ}}},
      {"word gap missed after CQ", "CQK1ABC K1ABC", {{"K1ABC", CQ}}},
      {"CQTEST glued", "CQTEST K1ABC  CQTEST K1ABC", {{"K1ABC", CQ}}},
      {"a call that starts like TEST is not split", "CQ TE1ABC TE1ABC", {{"TE1ABC", CQ}}},
      {"TEST misread", "CQ TESI K1ABC  K1ABC TEIT", {{"K1ABC", CQ}}},
      {"CQ misread", "NQ TEST K1ABC  CG TEST K1ABC", {{"K1ABC", CQ}}},
      {"misread TEST alone after a call is no CQ", "TESI K1ABC K1ABC", {{"K1ABC", DX}}},
      {"stray dits between context words",
       "CQ E TEST K1ABC  CQ TEST T K1ABC E TEST",
       {{"K1ABC", CQ}}},
      {"strays do not hide a report", "W9XYZ E 5NN 05  W9XYZ T 5NN 05", {}},
      {"strays do not hide DE", "W1AW E DE K1ABC  W1AW DE T K1ABC", {{"K1ABC", DX}}},
      {"a weak runner's context words lost: once in context, three times loose",
       "CQ TEST K1ABC  EI K1ABC TI  NT K1ABC EE  K1ABC MT",
       {{"K1ABC", CQ}}},
      {"loose reads alone are no spot", "EI K1ABC TI  NT K1ABC EE  K1ABC MT  K1ABC", {}},
      {"one in context and two loose are not enough", "CQ TEST K1ABC  EI K1ABC TI  K1ABC", {}},
      {"a called station is no loose read", "DE W9XYZ K  W9XYZ 5NN  W9XYZ 5NN  W9XYZ 5NN", {}},
      {"loose misreads vote too", "CQ TEST K1ABC  EI K1ABC TI  NT K1ABG EE  K1ABG MT  K1ABC", {}},
  };
  CallBook book;
  for (const Transcript& c : cases) {
    for (size_t chunk : {size_t{1}, size_t{5}, size_t{1000}}) {
      EXPECT_EQ(Extract(c.text, book, chunk), c.spots) << c.name << " (chunk " << chunk << ")";
    }
  }
}

TEST(CallExtractor, ReportsEveryReadOnceReadyAndMarksTheFirst) {
  CallBook book;
  CallExtractor x(book);
  std::vector<CallReport> r;
  x.Feed("CQ TEST K1ABC ", 1.0);
  x.Feed("K1ABC TEST ", 2.0);
  x.TakeReports(r);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].call, "K1ABC");
  EXPECT_EQ(r[0].reads, 2);
  EXPECT_TRUE(r[0].firstReport);
  EXPECT_DOUBLE_EQ(r[0].timeS, 2.0);
  EXPECT_EQ(x.CurrentCall(), "K1ABC");
  r.clear();
  x.Feed("TU K1ABC TEST ", 30.0);
  x.TakeReports(r);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].reads, 3);
  EXPECT_FALSE(r[0].firstReport);
}

TEST(CallExtractor, OldReadsAreForgotten) {
  CallBook book;
  CallExtractor x(book, {60.0});
  std::vector<CallReport> r;
  x.Feed("CQ DE K1ABC K ", 0.0);
  x.Feed("CQ DE K1ABC K ", 100.0);  // the first read is older than a minute
  x.TakeReports(r);
  EXPECT_TRUE(r.empty());
  x.Feed("CQ DE K1ABC K ", 120.0);
  x.TakeReports(r);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_TRUE(r[0].firstReport);
}

TEST(CallExtractor, ScpUnknownCallNeedsAThirdRead) {
  CallBook book;
  book.LoadScpText("K1ABC\n");
  EXPECT_EQ(Extract("CQ DE W1XYZ W1XYZ K", book).size(), 0u);
  EXPECT_EQ(Extract("CQ DE W1XYZ W1XYZ W1XYZ K", book).size(), 1u);
  EXPECT_EQ(Extract("CQ DE K1ABC K1ABC K", book).size(), 1u);
}

// Decoded noise (random letters, digits, spaces and '?') must never produce a call: this
// is where busted spots come from.
TEST(CallExtractor, RandomDecodedNoiseSpotsNothing) {
  CallBook book;
  std::mt19937 rng(11);
  const std::string alphabet = "ETIANMSURWDKGOHVFLPJBXCYZQ0123456789?   ";
  size_t spots = 0;
  for (int round = 0; round < 50; ++round) {
    std::string text(4000, ' ');
    for (char& c : text) c = alphabet[rng() % alphabet.size()];
    spots += Extract(text, book, 64).size();
  }
  EXPECT_EQ(spots, 0u);
}

}  // namespace
}  // namespace kestrix::skim
