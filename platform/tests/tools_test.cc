// The administrator tools, run as the real programs a user starts.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/testing/host_tools.h"
#include "platform/testing/temp_network.h"

namespace plat {
namespace {

constexpr const char* kServiceKey = "Software\\Quillfen Technologies\\Portulon\\Service";

using Result = testing::ToolResult;

class ToolsTest : public ::testing::Test {
 protected:
  static Result Run(const std::string& program, const std::vector<std::string>& args,
                    const std::vector<std::string>& unset = {}) {
    return testing::RunTool(program, args, unset);
  }
  Result Reg(const std::vector<std::string>& args) { return Run("reg", args); }

  static RegValue Value(const std::string& machineRoot, const std::string& key, const std::string& name) {
    RegKey hklm, k;
    RegValue v;
    EXPECT_EQ(RegKey::ConnectRoot(machineRoot, Hive::LocalMachine, &hklm), ERROR_SUCCESS);
    EXPECT_EQ(hklm.OpenSubKey(key, &k), ERROR_SUCCESS) << key;
    EXPECT_EQ(k.QueryValue(name, &v), ERROR_SUCCESS) << key << " " << name;
    return v;
  }

  testing::TempNetwork net;
};

TEST_F(ToolsTest, RegAddAndQueryEachType) {
  const std::string key = std::string("HKLM\\") + kServiceKey;
  struct Case {
    std::vector<std::string> add;  // after KEY
    const char* name;
    DWORD type;
    std::string data;     // as stored
    const char* shown;    // the query line
  };
  const Case cases[] = {
      {{"/v", "Text", "/d", "a b\\c"}, "Text", REG_SZ, "a b\\c", "    Text    REG_SZ    a b\\c"},
      {{"/v", "Exp", "/t", "REG_EXPAND_SZ", "/d", "%SystemRoot%\\x"}, "Exp", REG_EXPAND_SZ,
       "%SystemRoot%\\x", "    Exp    REG_EXPAND_SZ    %SystemRoot%\\x"},
      {{"/v", "IdleTimer", "/t", "reg_dword", "/d", "30"}, "IdleTimer", REG_DWORD,
       std::string("\x1e\0\0\0", 4), "    IdleTimer    REG_DWORD    0x1e"},
      {{"/v", "Big", "/t", "REG_DWORD", "/d", "0xFFFFFFFF"}, "Big", REG_DWORD,
       std::string("\xff\xff\xff\xff", 4), "    Big    REG_DWORD    0xffffffff"},
      {{"/v", "Multi", "/t", "REG_MULTI_SZ", "/d", "one\\0two words\\0"}, "Multi", REG_MULTI_SZ,
       std::string("one\0two words\0\0", 15), "    Multi    REG_MULTI_SZ    one\\0two words"},
      {{"/v", "Bin", "/t", "REG_BINARY", "/d", "00ff7A"}, "Bin", REG_BINARY,
       std::string("\0\xff\x7a", 3), "    Bin    REG_BINARY    00FF7A"},
      {{"/ve", "/d", "default text"}, "", REG_SZ, "default text", "    (Default)    REG_SZ    default text"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"add", key};
    args.insert(args.end(), c.add.begin(), c.add.end());
    const Result r = Reg(args);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "The operation completed successfully.\n");
    const RegValue v = Value(net.root(), kServiceKey, c.name);
    EXPECT_EQ(v.type, c.type) << c.name;
    EXPECT_EQ(v.data, c.data) << c.name;

    const Result q = Reg(c.name[0] ? std::vector<std::string>{"query", key, "/v", c.name}
                                   : std::vector<std::string>{"query", key, "/ve"});
    EXPECT_EQ(q.code, 0) << q.err;
    EXPECT_EQ(q.out, "\nHKEY_LOCAL_MACHINE\\" + std::string(kServiceKey) + "\n" + c.shown + "\n\n");
  }
  // The whole key shows every value; without /f an existing value stays.
  const Result all = Reg({"query", "hklm\\software\\quillfen technologies\\portulon\\service"});
  for (const auto& c : cases) EXPECT_NE(all.out.find(std::string(c.shown) + "\n"), std::string::npos) << c.shown;
  EXPECT_EQ(Reg({"add", key, "/v", "IdleTimer", "/t", "REG_DWORD", "/d", "31"}).code, 1);
  EXPECT_EQ(Reg({"add", key, "/v", "IdleTimer", "/t", "REG_DWORD", "/d", "31", "/f"}).code, 0);
  EXPECT_EQ(Value(net.root(), kServiceKey, "IdleTimer").data, std::string("\x1f\0\0\0", 4));
}

TEST_F(ToolsTest, RegQueryListsSubkeysAndRecursesWithS) {
  ASSERT_EQ(Reg({"add", "HKLM\\Software\\T\\Sub", "/v", "Deep", "/d", "x"}).code, 0);
  ASSERT_EQ(Reg({"add", "HKLM\\Software\\T", "/v", "Top", "/d", "y"}).code, 0);
  const Result flat = Reg({"query", "HKEY_LOCAL_MACHINE\\Software\\T"});
  EXPECT_EQ(flat.out,
            "\nHKEY_LOCAL_MACHINE\\Software\\T\n    Top    REG_SZ    y\n\n"
            "HKEY_LOCAL_MACHINE\\Software\\T\\Sub\n\n");
  const Result deep = Reg({"query", "HKLM\\Software\\T", "/s"});
  EXPECT_NE(deep.out.find("HKEY_LOCAL_MACHINE\\Software\\T\\Sub\n    Deep    REG_SZ    x\n"),
            std::string::npos)
      << deep.out;
  const Result search = Reg({"query", "HKLM\\Software", "/v", "deep", "/s"});
  EXPECT_NE(search.out.find("End of search: 1 match(es) found."), std::string::npos) << search.out;

  const Result missing = Reg({"query", "HKLM\\Software\\T", "/v", "Nope"});
  EXPECT_EQ(missing.code, 1);
  EXPECT_EQ(missing.err, "ERROR: " + ErrorText(ERROR_FILE_NOT_FOUND) + "\n");
}

TEST_F(ToolsTest, RegReachesOtherMachinesOfTheNetwork) {
  const std::string srv2 = net.AddMachine(testing::TempNetwork::DefaultConfig("SRV2"));
  RegKey hklm, key;
  ASSERT_EQ(RegKey::ConnectRoot(srv2, Hive::LocalMachine, &hklm), ERROR_SUCCESS);
  ASSERT_EQ(hklm.CreateSubKey(kServiceKey, &key), ERROR_SUCCESS);
  ASSERT_EQ(key.SetDword("IdleTimer", 5), ERROR_SUCCESS);

  const Result r = Reg({"query", "\\\\srv2\\HKLM\\" + std::string(kServiceKey), "/v", "IdleTimer"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "\n\\\\SRV2\\HKEY_LOCAL_MACHINE\\" + std::string(kServiceKey) +
                       "\n    IdleTimer    REG_DWORD    0x5\n\n");
  ASSERT_EQ(Reg({"add", "\\\\SRV2\\HKLM\\" + std::string(kServiceKey), "/v", "X", "/d", "1"}).code, 0);
  EXPECT_EQ(Value(srv2, kServiceKey, "X").data, "1");

  const std::string text = "ERROR: " + ErrorText(ERROR_BAD_NETPATH) + "\n";
  const Result unknown = Reg({"query", "\\\\NOSUCH\\HKLM\\Software"});
  EXPECT_EQ(unknown.code, 1);
  EXPECT_EQ(unknown.err, text);
  ASSERT_EQ(SetMachineDown(srv2, true), ERROR_SUCCESS);
  const Result down = Reg({"query", "\\\\SRV2\\HKLM\\Software"});
  EXPECT_EQ(down.code, 1);
  EXPECT_EQ(down.err, text);
}

TEST_F(ToolsTest, ExportThenImportCopiesAKeyTreeToAnotherMachine) {
  const std::string key = "HKLM\\Software\\Quillfen Technologies";
  ASSERT_EQ(Reg({"add", key + "\\Portulon\\Service", "/v", "IdleTimer", "/t", "REG_DWORD", "/d", "600"}).code, 0);
  ASSERT_EQ(Reg({"add", key + "\\Portulon\\Service", "/v", "Quote", "/d", "say \"hi\" \\ %x%"}).code, 0);
  ASSERT_EQ(Reg({"add", key + "\\Portulon", "/v", "M", "/t", "REG_MULTI_SZ", "/d", "a\\0b"}).code, 0);
  ASSERT_EQ(Reg({"add", key + "\\Portulon", "/v", "B", "/t", "REG_BINARY", "/d", "0001FE"}).code, 0);
  ASSERT_EQ(Reg({"add", key + "\\Portulon\\Empty"}).code, 0);
  const std::string file = net.network() + "/export.reg";
  const Result exported = Reg({"export", key, file});
  ASSERT_EQ(exported.code, 0) << exported.err;
  EXPECT_EQ(Reg({"export", key, file}).code, 1);  // exists, and nobody says yes
  EXPECT_EQ(Reg({"export", key, file, "/y"}).code, 0);

  const std::string srv2 = net.AddMachine(testing::TempNetwork::DefaultConfig("SRV2"));
  const Result imported = Run("reg", {"--machine", srv2, "import", file});
  ASSERT_EQ(imported.code, 0) << imported.err;

  auto exportOf = [&](const std::string& machine) {
    RegKey hklm, k;
    std::string text;
    EXPECT_EQ(RegKey::ConnectRoot(machine, Hive::LocalMachine, &hklm), ERROR_SUCCESS);
    EXPECT_EQ(hklm.OpenSubKey("Software\\Quillfen Technologies", &k), ERROR_SUCCESS);
    EXPECT_EQ(RegExportText(k, &text), ERROR_SUCCESS);
    return text;
  };
  EXPECT_EQ(exportOf(srv2), exportOf(net.root()));
  EXPECT_EQ(Value(srv2, "Software\\Quillfen Technologies\\Portulon\\Service", "Quote").data,
            "say \"hi\" \\ %x%");

  std::ofstream(net.network() + "/bad.reg") << "not a registry file\n";
  EXPECT_EQ(Reg({"import", net.network() + "/bad.reg"}).code, 1);
}

TEST_F(ToolsTest, RegDeleteRemovesValuesAndWholeTrees) {
  for (const char* k : {"HKLM\\Software\\A\\B\\C", "HKLM\\Software\\A\\D", "HKLM\\Software\\Keep"}) {
    ASSERT_EQ(Reg({"add", k, "/v", "v1", "/d", "1"}).code, 0);
    ASSERT_EQ(Reg({"add", k, "/v", "v2", "/d", "2"}).code, 0);
  }
  RegKey key;
  EXPECT_EQ(Reg({"delete", "HKLM\\Software\\A\\D", "/v", "v1", "/f"}).code, 0);
  EXPECT_EQ(Reg({"query", "HKLM\\Software\\A\\D", "/v", "v1"}).code, 1);
  EXPECT_EQ(Reg({"delete", "HKLM\\Software\\A\\D", "/va", "/f"}).code, 0);
  EXPECT_EQ(Reg({"query", "HKLM\\Software\\A\\D"}).out, "\nHKEY_LOCAL_MACHINE\\Software\\A\\D\n\n");

  // Without /f the tool asks; with nobody to answer, nothing happens.
  const Result asked = Reg({"delete", "HKLM\\Software\\A"});
  EXPECT_EQ(asked.code, 1);
  EXPECT_EQ(RegKey::Open(Hive::LocalMachine, "Software\\A\\B\\C", &key), ERROR_SUCCESS);

  const Result r = Reg({"delete", "HKLM\\software\\a", "/f"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(RegKey::Open(Hive::LocalMachine, "Software\\A", &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Value(net.root(), "Software\\Keep", "v2").data, "2");
  EXPECT_EQ(Reg({"delete", "HKLM\\Software\\A", "/f"}).code, 1);
}

TEST_F(ToolsTest, BadCommandLinesFailWithAMessage) {
  const std::string other = net.network() + "/OTHER";
  struct Case {
    const char* program;
    std::vector<std::string> args;
    int code;
  };
  const Case cases[] = {
      {"reg", {}, 2},
      {"reg", {"frob", "HKLM"}, 2},
      {"reg", {"query"}, 2},
      {"reg", {"query", "HKLM", "extra"}, 2},
      {"reg", {"query", "HKXX\\Software"}, 2},
      {"reg", {"query", "HKLM", "/v"}, 2},
      {"reg", {"query", "HKLM", "/v", "a", "/ve"}, 2},
      {"reg", {"query", "HKLM", "/f"}, 2},
      {"reg", {"add", "HKLM\\X", "/v", "a", "/t", "REG_DWORD", "/d", "12abc"}, 2},
      {"reg", {"add", "HKLM\\X", "/v", "a", "/t", "REG_DWORD", "/d", "0x100000000"}, 2},
      {"reg", {"add", "HKLM\\X", "/v", "a", "/t", "REG_BINARY", "/d", "abc"}, 2},
      {"reg", {"add", "HKLM\\X", "/v", "a", "/t", "REG_FOO"}, 2},
      {"reg", {"add", "HKLM\\X", "/d", "no name"}, 2},
      {"reg", {"delete", "HKLM", "/f"}, 2},
      {"reg", {"import", net.network() + "/missing.reg"}, 1},
      {"reg", {"--machine"}, 2},
      {"reg", {"--machine", net.network() + "/nowhere", "query", "HKLM"}, 1},
      {"plmachine", {}, 2},
      {"plmachine", {"frob"}, 2},
      {"plmachine", {"show", "extra"}, 2},
      {"plmachine", {"create"}, 2},
      {"plmachine", {"create", other, "--os", "3.51", "--ras", "ras"}, 2},
      {"plmachine", {"create", other, "--os", "4.0", "--ras", "isdn"}, 2},
      {"plmachine", {"create", other, "--os", "4.0"}, 2},
      {"plmachine", {"create", other, "--os", "4.0", "--ras", "ras", "--name", "SRV9"}, 2},
      {"plmachine", {"create", other, "--os", "4.0", "--ras", "ras", "--ports", "many"}, 2},
      {"plmachine", {"create", other, "--os", "4.0", "--ras", "ras", "--tz-bias"}, 2},
      {"plmachine", {"create", net.root(), "--os", "4.0", "--ras", "ras"}, 1},  // exists
  };
  for (const auto& c : cases) {
    const Result r = Run(c.program, c.args);
    std::string line = c.program;
    for (const auto& a : c.args) line += " " + a;
    EXPECT_EQ(r.code, c.code) << line << "\n" << r.err;
    EXPECT_FALSE(r.err.empty()) << line;
  }
  EXPECT_FALSE(std::ifstream(other + "/registry/HKLM.reg").good()) << "a bad create left a machine";
  // Without PORTULON_MACHINE or --machine a tool knows no machine.
  const Result none = Run("reg", {"query", "HKLM"}, {"PORTULON_MACHINE"});
  EXPECT_EQ(none.code, 2);
  EXPECT_NE(none.err.find("--machine"), std::string::npos) << none.err;
}

TEST_F(ToolsTest, PlmachineCreatesShowsAndMarksDownAndUp) {
  const std::string root = net.network() + "/Srv3";
  const Result created = Run("plmachine", {"create", root, "--os", "5.0", "--ras", "RRAS", "--locale", "1031",
                                           "--domain", "QF", "--ports", "8", "--tz-bias=-60"});
  ASSERT_EQ(created.code, 0) << created.err;
  EXPECT_NE(created.out.find("Created machine SRV3"), std::string::npos) << created.out;
  MachineConfig c;
  ASSERT_EQ(ReadMachineConfig(root, &c), ERROR_SUCCESS);
  EXPECT_EQ(c.name, "SRV3");
  EXPECT_EQ(c.osVersion, "5.0");
  EXPECT_EQ(c.ras, RasFlavour::Rras);
  EXPECT_EQ(c.locale, 1031u);
  EXPECT_EQ(c.domain, "QF");
  EXPECT_EQ(c.rasPorts, 8);
  EXPECT_EQ(c.timeZoneBiasMinutes, -60);

  RegKey hklm, k;
  ASSERT_EQ(RegKey::ConnectRoot(root, Hive::LocalMachine, &hklm), ERROR_SUCCESS);
  ASSERT_EQ(hklm.CreateSubKey(kSharesKey, &k), ERROR_SUCCESS);
  ASSERT_EQ(k.SetMultiString("PL_NT_DB", {"Path=C:\\Program Files\\Portulon\\Data", "Type=0"}), ERROR_SUCCESS);
  ASSERT_EQ(hklm.CreateSubKey("System\\CurrentControlSet\\Services\\PLSvc", &k), ERROR_SUCCESS);
  ASSERT_EQ(k.SetString("ImagePath", "C:\\Program Files\\Portulon\\plsvc.exe"), ERROR_SUCCESS);
  ASSERT_EQ(k.SetDword("Start", 2), ERROR_SUCCESS);
  ASSERT_EQ(hklm.CreateSubKey("System\\CurrentControlSet\\Services\\LanmanWorkstation", &k),
            ERROR_SUCCESS);
  ASSERT_EQ(k.SetString("DisplayName", "Workstation"), ERROR_SUCCESS);

  const Result shown = Run("plmachine", {"show", "--machine", root});
  ASSERT_EQ(shown.code, 0) << shown.err;
  for (const char* expected :
       {"Computer name:   SRV3", "OS version:      5.0", "Remote access:   RRAS", "Locale:          1031",
        "Domain:          QF", "Ports:           8", "Time-zone bias:  -60 minutes", "State:           up",
        "PL_NT_DB         C:\\Program Files\\Portulon\\Data",
        "PLSvc            auto     C:\\Program Files\\Portulon\\plsvc.exe", "drive_c/"}) {
    EXPECT_NE(shown.out.find(expected), std::string::npos) << expected << "\n" << shown.out;
  }
  EXPECT_NE(shown.out.find("RemoteAccess     auto     C:\\WINNT\\system32\\rassvc.exe"),
            std::string::npos)
      << shown.out;
  // Keys under Services without an ImagePath are no services.
  EXPECT_EQ(shown.out.find("LanmanWorkstation"), std::string::npos) << shown.out;

  EXPECT_EQ(Run("plmachine", {"--machine", root, "down"}).code, 0);
  EXPECT_TRUE(IsMachineDown(root));
  EXPECT_NE(Run("plmachine", {"show", "--machine", root}).out.find("State:           down"), std::string::npos);
  EXPECT_EQ(Reg({"query", "\\\\SRV3\\HKLM"}).code, 1);
  EXPECT_EQ(Run("plmachine", {"up", "--machine=" + root}).code, 0);
  EXPECT_FALSE(IsMachineDown(root));
  EXPECT_EQ(Reg({"query", "\\\\SRV3\\HKLM"}).code, 0);
}

TEST_F(ToolsTest, EveryToolHasHelp) {
  for (const auto& [program, args] : std::vector<std::pair<std::string, std::vector<std::string>>>{
           {"reg", {"--help"}}, {"reg", {"/?"}}, {"reg", {"query", "-h"}},
           {"plmachine", {"--help"}}, {"plmachine", {"create", "--help"}}}) {
    const Result r = Run(program, args, {"PORTULON_MACHINE"});
    EXPECT_EQ(r.code, 0) << program;
    // "NAME - what it is", then the usage lines: the manual page's NAME and SYNOPSIS.
    EXPECT_EQ(r.out.rfind(program + " - ", 0), 0u) << program << ": " << r.out;
    EXPECT_NE(r.out.find("\nUsage:\n"), std::string::npos) << program << ": " << r.out;
  }
}

TEST_F(ToolsTest, EveryToolSpeaksTheSameCommandLine) {
  const std::vector<std::string> tools = {"reg", "plmachine", "pldomain", "eventlog",
                                          "sc",  "net",       "rasctl"};
  for (const std::string& tool : tools) {
    // Options are checked before the machine is looked for.
    const Result bogus = Run(tool, {"--bogus"}, {"PORTULON_MACHINE"});
    EXPECT_EQ(bogus.code, 2) << tool << ": " << bogus.err;
    EXPECT_NE(bogus.err.find("--bogus"), std::string::npos) << tool << ": " << bogus.err;
    EXPECT_NE(bogus.err.find("Usage"), std::string::npos) << tool << ": " << bogus.err;

    const Result version = Run(tool, {"--version"}, {"PORTULON_MACHINE"});
    EXPECT_EQ(version.code, 0) << tool;
    EXPECT_EQ(version.out.rfind(tool + " 2.1b (file version 2.1.0.2)", 0), 0u) << version.out;

    const Result help = Run(tool, {"--help"}, {"PORTULON_MACHINE"});
    EXPECT_EQ(help.code, 0) << tool;
    EXPECT_NE(help.out.find("Exit status"), std::string::npos) << tool << ": " << help.out;
  }
  // A value that looks like an option after "--" is an operand.
  const Result operand = Run("rasctl", {"hangup", "--", "-x"});
  EXPECT_EQ(operand.err.find("unknown option"), std::string::npos) << operand.err;
}

}  // namespace
}  // namespace plat
