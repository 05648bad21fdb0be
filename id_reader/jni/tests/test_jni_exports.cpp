// Both library builds carry the Java native methods; only the first carries the
// two log setters. Internal names stay inside either build.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::vector<std::string> kCommonMethods = {
    "Init", "OpenPort", "OpenPortEx", "ClosePort", "GetSAMStatus", "ResetSAM", "GetSAMID",
    "StartFindIDCard", "SelectIDCard", "ReadBaseMsg", "ReadNewAppMsg", "ReadCardMsgSN",
    "ReadBaseFPMsg", "PHunpack", "Wlt2bmpBuffer", "GetCardType",
    "getIDName", "getIDGender", "getIDNational", "getIDBirthday", "getIDAddress", "getIDCardNumber",
    "getIDMaker", "getIDStartDate", "getIDEndDate",
    "getResideEnglishName", "getResideGender", "getResideId", "getResideAreaCode",
    "getResideChineseName", "getResideStartDate", "getResideEndDate", "getResideBirthday",
    "getResideVersionNumber", "getResideOfficeNumber", "getResideCardType", "getResideReserved",
    "getGATName", "getGATGender", "getGATReserved1", "getGATBirthday", "getGATAddress",
    "getGATCardNumber", "getGATMaker", "getGATStartDate", "getGATEndDate", "getGATPassNumber",
    "getGATLssueTimes", "getGATReserved2", "getGATCardType", "getGATReserved3"};

const std::vector<std::string> kMifarePublic = {
    "QXID_MFInit", "QXID_Mifare_REQA", "QXID_Mifare_AnticollA", "QXID_Mifare_SelectA",
    "QXID_Mifare_HaltA", "QXID_Mifare_Read", "QXID_Mifare_Write", "QXID_Mifare_Get_SNR",
    "QXID_Mifare_Get_SNR_SFZ", "QXID_Mifare_GetSerNum", "QXID_Mifare_SetSerNum",
    "QXID_SetBaudRate", "QXID_Mifare_Perror"};

const std::vector<std::string> kInternal = {
    "SendCommand", "GetReply", "Mifare_Read", "Mifare_Write", "Mifare_GetSerNum", "mf_read_reply",
    "mf_reply_copy", "QXFPI_Init", "QXFPI_Open", "serial_open", "cmd_unpack"};

class Exports : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    handle = dlopen(GetParam() ? QXIDENT_ALT_LIB : QXIDENT_LIB, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
  }
  void TearDown() override {
    if (handle) dlclose(handle);
  }
  bool has(const std::string& name) { return dlsym(handle, name.c_str()) != nullptr; }
  static std::string java(const std::string& method) { return "Java_com_nolvex_QXIDCard_" + method; }

  void* handle = nullptr;
};

TEST_P(Exports, NativeMethodsOfBothBuilds) {
  for (const auto& m : kCommonMethods) EXPECT_TRUE(has(java(m))) << m;
  for (const auto& f : kMifarePublic) EXPECT_TRUE(has(f)) << f;
}

TEST_P(Exports, LogSettersOnlyInTheFirstBuild) {
  const bool alt = GetParam();
  EXPECT_EQ(has(java("SetLogType")), !alt);
  EXPECT_EQ(has(java("SetLogLevel")), !alt);
}

TEST_P(Exports, InternalNamesStayInside) {
  for (const auto& f : kInternal) EXPECT_FALSE(has(f)) << f;
}

INSTANTIATE_TEST_SUITE_P(Builds, Exports, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Second" : "First"; });

}  // namespace
