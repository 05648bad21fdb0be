// The test Java class com.nolvex.QXIDCard drives both library builds through
// the JVM; the harness compares the "key=value" lines it prints.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#ifdef QXID_HAVE_SAM_SIM
#include "pty_sim.h"
#endif

namespace {

using Output = std::map<std::string, std::string>;

// A working directory of its own for one Java run, removed afterwards.
struct ScratchDir {
  ScratchDir() {
    char tmpl[] = "/tmp/qxjni-XXXXXX";
    const char* d = mkdtemp(tmpl);
    path = d ? d : "";
  }
  ~ScratchDir() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
  }
  std::string path;
};

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Runs the class in dir; log lines (which start with '[') are dropped.
Output runJava(const std::string& lib, const std::string& args, const std::string& dir, int* status) {
  const std::string cmd = "cd '" + dir + "' && LD_LIBRARY_PATH='" QXSIM_WLT_DIR "' '" JAVA_EXE "' -Xshare:auto -cp '" QXIDCARD_JAR
                          "' com.nolvex.QXIDCard '" + lib + "' " + args + " 2>&1";
  Output out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char line[4096];
  while (fgets(line, sizeof line, p)) {
    std::string s(line);
    if (!s.empty() && s.back() == '\n') s.pop_back();
    const size_t eq = s.find('=');
    if (s.empty() || s[0] == '[' || eq == std::string::npos) continue;
    out[s.substr(0, eq)] = s.substr(eq + 1);
  }
  *status = pclose(p);
  return out;
}

class JavaClass : public ::testing::TestWithParam<bool> {
 protected:
  std::string lib() const { return GetParam() ? QXIDENT_ALT_LIB : QXIDENT_LIB; }
};

TEST_P(JavaClass, ArraysAndAccessors) {
  ScratchDir dir;
  int status = -1;
  Output o = runJava(lib(), "arrays", dir.path, &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(o["samid_short"], "-6");
  EXPECT_EQ(o["iin_short"], "-6");
  EXPECT_EQ(o["unterminated"], "-4");
  EXPECT_EQ(o["name_small_ret"], "1");
  EXPECT_EQ(o["name_small"], "e5bca0e4");  // what fits of 张三丰, nothing past the array
  EXPECT_EQ(o["name"], "张三丰");
  EXPECT_EQ(o["gender"], "男");
  EXPECT_EQ(o["national"], "汉");
  EXPECT_EQ(o["name_shortrec"], "张三丰");
  EXPECT_EQ(o["untouched"], "6:true");
  EXPECT_EQ(o["typeret"], "1");
  EXPECT_EQ(o["type"], "[ ]");
  EXPECT_EQ(o["bmp_shortphoto"], "-6");
  EXPECT_EQ(o["bmp_claims_more"], "-6");
}

TEST_P(JavaClass, LogSetters) {
  const bool alt = GetParam();
  ScratchDir scratch;
  const std::string dir = scratch.path;
  const std::string file = dir + "/java.log";
  int status = -1;
  Output o = runJava(lib(), "log '" + file + "'", dir, &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(o["openmissing"], "-4");
  struct stat st;
  if (alt) {
    EXPECT_EQ(o["setters"], "absent");
    EXPECT_EQ(o["default"], "absent");
    EXPECT_NE(stat(file.c_str(), &st), 0);
    EXPECT_NE(stat((dir + "/qxidreader.log").c_str(), &st), 0);
    return;
  }
  EXPECT_EQ(o["setters"], "present");
  EXPECT_EQ(o["openmissing2"], "-4");
  const std::string log = slurp(file);
  EXPECT_NE(log.find("[VERBOSE]: ===>QXID_OpenPortEx\n"), std::string::npos) << log;
  EXPECT_NE(log.find("/dev/qx-no-such-port"), std::string::npos);
  EXPECT_NE(log.find("===>QXID_SetLogType\n"), std::string::npos);
  // An empty path from Java selects the default file in the working directory.
  const std::string fallback = slurp(dir + "/qxidreader.log");
  EXPECT_NE(fallback.find("/dev/qx-no-such-port2"), std::string::npos) << fallback;
  EXPECT_EQ(log.find("/dev/qx-no-such-port2"), std::string::npos);
}

#ifdef QXID_HAVE_SAM_SIM
// A resident card read end to end from Java over the simulated reader on a pty.
TEST_P(JavaClass, ReadsASimulatedCard) {
  qxsim::SamSim sam;
  sam.set_card(qxsim::CardKind::Resident);
  qxsim::PtySim pty(sam);
  ASSERT_TRUE(pty.ok());
  ScratchDir dir;
  int status = -1;
  Output o = runJava(lib(), "read '" + pty.slave_path() + "'", dir.path, &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(o["open"], "ok");
  EXPECT_EQ(o["status"], "0");
  EXPECT_EQ(o["samid"], "0:010500028cb3340187d6120055aa55aa");
  EXPECT_EQ(o["find"], "0");
  EXPECT_EQ(o["select"], "0");
  EXPECT_EQ(o["base"], "0");
  EXPECT_EQ(o["chlen"], "256");
  EXPECT_EQ(o["phlen"], "1024");
  EXPECT_EQ(o["type"], "[ ]");
  EXPECT_EQ(o["name"], "张伟民");
  EXPECT_EQ(o["gender"], "男");
  EXPECT_EQ(o["national"], "汉");
  EXPECT_EQ(o["birthday"], "19850312");
  EXPECT_EQ(o["address"], "北京市东城区景山前街4号院3号楼2单元501室");
  EXPECT_EQ(o["number"].substr(0, 17), "11010119850312401");
  EXPECT_EQ(o["number"].size(), 18u);
  EXPECT_EQ(o["maker"], "北京市公安局东城分局");
  EXPECT_EQ(o["start"], "20150620");
  EXPECT_EQ(o["end"], "20350620");
  EXPECT_EQ(o["bmp"], "0");
  EXPECT_EQ(o["bmphead"], "424dce970000");
  EXPECT_EQ(o["bgr"], "0");
  EXPECT_EQ(o["reset"], "0");
  EXPECT_EQ(o["app"], "0:70");
  EXPECT_EQ(o["msgsn"], "0");
  EXPECT_EQ(o["fp"], "0:256:1024:1024");
  EXPECT_EQ(o["base_short"], "-6:256");
  EXPECT_EQ(o["close"], "0");
  // The same pixels through both builds.
  static std::string firstBgr;
  if (!GetParam()) {
    firstBgr = o["bgrsum"];
  } else if (!firstBgr.empty()) {
    EXPECT_EQ(o["bgrsum"], firstBgr);
  }
}

// The newer card kinds: Java sees the kind and reads their fields from the record itself.
TEST_P(JavaClass, TellsTheNewerCardKinds) {
  for (auto [kind, letter] : {std::pair{qxsim::CardKind::Permanent, "[I]"}, std::pair{qxsim::CardKind::Permit, "[J]"}}) {
    qxsim::SamSim sam;
    sam.set_card(kind);
    qxsim::PtySim pty(sam);
    ASSERT_TRUE(pty.ok());
    ScratchDir dir;
    int status = -1;
    Output o = runJava(lib(), "read '" + pty.slave_path() + "'", dir.path, &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(o["base"], "0");
    EXPECT_EQ(o["type"], letter);
    EXPECT_EQ(o["bmp"], "0");
  }
}
#endif

INSTANTIATE_TEST_SUITE_P(Builds, JavaClass, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Second" : "First"; });

}  // namespace
