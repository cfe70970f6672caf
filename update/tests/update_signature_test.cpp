// Signatures on the simulated machine: its Authenticode check against
// programs signed by osslsigncode, the update's same-publisher rule, and
// HTTPS addresses.
#include "platform/code_signature.h"
#include "update/tests/update_test_support.h"

namespace corvane::test {
namespace {

using plat::SignatureState;

class Signatures : public UpdateOnMachine {
 protected:
  void SetUp() override {
    UpdateOnMachine::SetUp();
    Patch({{"trustedRoots", {SigningKit::Pem("root")}}});
  }
  plat::CodeSignature Of(const std::string& image) {
    MakeFile("C:\\probe.exe", image);
    return plat::ReadCodeSignature("C:\\probe.exe");
  }
  void RunSignedUpdate(const std::string& own, const std::string& served, const std::string& name = "Corvaner.exe") {
    MakeFile(kProg, own);
    server.WriteFile("files/" + name, served);
    Offer("#version=8\r\n#url=" + server.Url("/files/" + name) + "\r\n");
    Update();
  }
};

TEST_F(Signatures, TheMachinesVerifierReadsOsslsigncodeSignatures) {
  const std::string a1 = SigningKit::Program("one", "a"), a2 = SigningKit::Program("two", "a");
  const plat::CodeSignature s1 = Of(a1), s2 = Of(a2), sb = Of(SigningKit::Program("one", "b"));
  EXPECT_EQ(s1.state, SignatureState::Valid) << s1.detail;
  EXPECT_EQ(sb.state, SignatureState::Valid) << sb.detail;
  EXPECT_FALSE(s1.signer.empty());
  EXPECT_EQ(s1.signer, s2.signer);
  EXPECT_NE(s1.signer, sb.signer);
  EXPECT_EQ(Of(SigningKit::Program("one", "")).state, SignatureState::Unsigned);
  EXPECT_EQ(Of("plain text").state, SignatureState::Unsigned);

  std::string altered = a1;
  altered[0x201] ^= 1;  // a byte of the code
  plat::CodeSignature s = Of(altered);
  EXPECT_EQ(s.state, SignatureState::Invalid);
  EXPECT_NE(s.detail.find("changed"), std::string::npos) << s.detail;
  EXPECT_EQ(s.signer, s1.signer);  // still readable

  s = Of(SigningKit::Program("one", "stray"));
  EXPECT_EQ(s.state, SignatureState::Invalid);
  EXPECT_NE(s.detail.find("untrusted"), std::string::npos) << s.detail;

  // Damaged certificate tables never crash and never pass.
  for (size_t cut : {a1.size() - 1, a1.size() - 200, size_t{0x400 + 9}}) {
    EXPECT_NE(Of(a1.substr(0, cut)).state, SignatureState::Valid) << cut;
  }
  Patch({{"trustedRoots", nlohmann::json::array()}});
  EXPECT_EQ(Of(a1).state, SignatureState::Invalid);
}

TEST_F(Signatures, ASignedProgramTakesProgramsOfItsOwnPublisherOnly) {
  const std::string own = SigningKit::Program("old", "a");
  RunSignedUpdate(own, SigningKit::Program("new", "a"));
  EXPECT_EQ(host.closes, 1);
  EXPECT_NE(Read(kProg), own);

  struct Refused {
    std::string served, name, why;
  } refused[] = {
      {SigningKit::Program("new", "b"), "Corvaner.exe", "signed by another publisher"},
      {SigningKit::Program("new", ""), "Corvaner.exe", "carries no signature"},
      {SigningKit::Program("new", "stray"), "Corvaner.exe", "does not hold"},
      {"not a program, but named like one", "helper.dll", "carries no signature"},
  };
  for (const Refused& r : refused) {
    host.closes = 0;
    RunSignedUpdate(own, r.served, r.name);
    EXPECT_EQ(host.closes, 0) << r.why;
    EXPECT_EQ(Read(kProg), own) << r.why;
    EXPECT_TRUE(TmpFilesIn(kFolder).empty()) << r.why;
    EXPECT_NE(LogText().find("Update Error: refused, "), std::string::npos);
    EXPECT_NE(LogText().find(r.why), std::string::npos) << r.why;
  }
  // Data files need no signature.
  host.closes = 0;
  RunSignedUpdate(own, "just data", "readme.txt");
  EXPECT_EQ(host.closes, 1);
  EXPECT_EQ(Read(kFolder + "readme.txt"), "just data");
}

TEST_F(Signatures, AnUnsignedProgramSkipsTheCheckAndSaysSo) {
  RunSignedUpdate(SigningKit::Program("old", ""), SigningKit::Program("new", "b"));
  EXPECT_EQ(host.closes, 1);
  EXPECT_NE(LogText().find("the program carries no signature; the downloaded files are not checked"),
            std::string::npos);
}

TEST_F(Signatures, HttpsAddressesWorkForTheInformationFileAndTheDownloads) {
  const std::string site = MakeTempDir("https-site");
  OpServer tls(site, {"--tls-cert", SigningKit::Dir() + "/tls.pem", "--tls-key", SigningKit::Dir() + "/tls.key"});
  const std::string base = "https://127.0.0.1:" + std::to_string(tls.Port());
  std::filesystem::create_directories(site + "/corvane");
  std::ofstream(site + "/corvane/Corvaner.exe", std::ios::binary) << kStandIn;
  std::ofstream(site + "/corvane/update.inf", std::ios::binary)
      << "#version=8\r\n#url=" << base << "/corvane/Corvaner.exe\r\n";
  SetServerUrl(base + "/corvane/");
  Check(false);
  EXPECT_TRUE(host.boxes.empty());
  EXPECT_EQ(Read(kProg + ".args"), "/afterupgrade\n");

  // A server whose certificate the machine does not trust is not reached.
  MakeFile(kProg, "old version");
  Patch({{"trustedRoots", nlohmann::json::array()}});
  Check(false);
  EXPECT_EQ(host.boxes, std::vector<std::string>{"在线升级|恭喜你，当前已经是最新版本！|success"});
  EXPECT_EQ(Read(kProg), "old version");
  std::filesystem::remove_all(site);
}

}  // namespace
}  // namespace corvane::test
