#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <thread>

#include "platform/errors.h"
#include "platform/fault_seam.h"
#include "platform/hive_text.h"
#include "platform/machine.h"
#include "platform/testing/host_tools.h"
#include "platform/testing/temp_network.h"

namespace plat {
namespace {

using testing::AppendHostFile;
using testing::ReadHostFile;

class RegistryTest : public ::testing::Test {
 protected:
  testing::TempNetwork net;
  std::string HklmFile() const { return RegistryDir(net.root()) + "/HKLM.reg"; }
};

TEST_F(RegistryTest, KeysOpenIgnoringCaseAndKeepTheirSpelling) {
  RegKey created;
  ASSERT_EQ(RegKey::Create(Hive::LocalMachine, "Software\\Quillfen Technologies\\Portulon\\Service",
                           &created),
            ERROR_SUCCESS);
  ASSERT_EQ(created.SetDword("IdleTimer", 10), ERROR_SUCCESS);

  RegKey opened;
  ASSERT_EQ(RegKey::Open(Hive::LocalMachine, "SOFTWARE\\quillfen technologies\\PORTULON\\service",
                         &opened),
            ERROR_SUCCESS);
  EXPECT_EQ(opened.path(), "Software\\Quillfen Technologies\\Portulon\\Service");
  DWORD v = 0;
  EXPECT_EQ(opened.QueryDword("idletimer", &v), ERROR_SUCCESS);
  EXPECT_EQ(v, 10u);

  // Rewriting a value under another spelling keeps the first spelling.
  ASSERT_EQ(opened.SetDword("IDLETIMER", 20), ERROR_SUCCESS);
  std::vector<RegValue> values;
  ASSERT_EQ(opened.ListValues(&values), ERROR_SUCCESS);
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].name, "IdleTimer");

  RegKey missing;
  EXPECT_EQ(RegKey::Open(Hive::LocalMachine, "Software\\Nothing\\Here", &missing),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, ValueTypesRoundTrip) {
  RegKey k;
  ASSERT_EQ(RegKey::Create(Hive::LocalMachine, "Software\\Types", &k), ERROR_SUCCESS);
  const std::string awkward = "quote\" back\\slash \\\\SRV1\\PL_NT_DB tab\tnewline\nend";
  ASSERT_EQ(k.SetString("Text", awkward), ERROR_SUCCESS);
  ASSERT_EQ(k.SetString("", "default value"), ERROR_SUCCESS);
  ASSERT_EQ(k.SetDword("Number", 0xFFFFFFFFu), ERROR_SUCCESS);
  ASSERT_EQ(k.SetMultiString("Multi", {"Path=C:\\Data", "Remark=Share"}), ERROR_SUCCESS);
  ASSERT_EQ(k.SetValue(RegValue{"Bin", REG_BINARY, std::string("\x00\x01\xff", 3)}), ERROR_SUCCESS);

  RegKey again;
  ASSERT_EQ(RegKey::Open(Hive::LocalMachine, "Software\\Types", &again), ERROR_SUCCESS);
  std::string text;
  EXPECT_EQ(again.QueryString("Text", &text), ERROR_SUCCESS);
  EXPECT_EQ(text, awkward);
  EXPECT_EQ(again.QueryString("", &text), ERROR_SUCCESS);
  EXPECT_EQ(text, "default value");
  DWORD d = 0;
  EXPECT_EQ(again.QueryDword("Number", &d), ERROR_SUCCESS);
  EXPECT_EQ(d, 0xFFFFFFFFu);
  std::vector<std::string> multi;
  EXPECT_EQ(again.QueryMultiString("Multi", &multi), ERROR_SUCCESS);
  EXPECT_EQ(multi, (std::vector<std::string>{"Path=C:\\Data", "Remark=Share"}));
  RegValue bin;
  EXPECT_EQ(again.QueryValue("Bin", &bin), ERROR_SUCCESS);
  EXPECT_EQ(bin.type, REG_BINARY);
  EXPECT_EQ(bin.data, std::string("\x00\x01\xff", 3));
  // Asking for the wrong type is an error, not a conversion.
  EXPECT_EQ(again.QueryDword("Text", &d), ERROR_INVALID_DATA);
  EXPECT_EQ(again.DeleteValue("Number"), ERROR_SUCCESS);
  EXPECT_EQ(again.QueryDword("Number", &d), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(again.DeleteValue("Number"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, SubkeysEnumerateAlphabeticallyIgnoringCase) {
  RegKey servers;
  ASSERT_EQ(RegKey::Create(Hive::LocalMachine, "Software\\Servers", &servers), ERROR_SUCCESS);
  for (const char* name : {"srv3", "Alpha", "beta", "SRV1", "Gamma"}) {
    RegKey sub;
    ASSERT_EQ(servers.CreateSubKey(name, &sub), ERROR_SUCCESS);
  }
  RegKey deeper;
  ASSERT_EQ(servers.CreateSubKey("beta\\child", &deeper), ERROR_SUCCESS);
  std::vector<std::string> names;
  for (DWORD i = 0;; ++i) {
    std::string name;
    const DWORD err = servers.EnumKey(i, &name);
    if (err == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(err, ERROR_SUCCESS);
    names.push_back(name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "beta", "Gamma", "SRV1", "srv3"}));
}

TEST_F(RegistryTest, DeletingAKeyWithSubkeysFails) {
  RegKey parent;
  ASSERT_EQ(RegKey::Create(Hive::LocalMachine, "Software\\Parent\\Child", &parent), ERROR_SUCCESS);
  RegKey software;
  ASSERT_EQ(RegKey::Open(Hive::LocalMachine, "Software", &software), ERROR_SUCCESS);
  EXPECT_EQ(software.DeleteSubKey("Parent"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(software.DeleteSubKey("parent\\CHILD"), ERROR_SUCCESS);
  EXPECT_EQ(software.DeleteSubKey("Parent"), ERROR_SUCCESS);
  EXPECT_EQ(software.DeleteSubKey("Parent"), ERROR_FILE_NOT_FOUND);
  // A handle to a deleted key says so.
  std::string s;
  EXPECT_EQ(parent.QueryString("x", &s), ERROR_KEY_DELETED);
}

TEST_F(RegistryTest, RemoteConnectReadsAnotherMachine) {
  const std::string srv2 = net.AddMachine(testing::TempNetwork::DefaultConfig("SRV2"));
  RegKey remote;
  ASSERT_EQ(RegKey::Connect("\\\\srv2", Hive::LocalMachine, &remote), ERROR_SUCCESS);
  RegKey name;
  ASSERT_EQ(remote.OpenSubKey(kComputerNameKey, &name), ERROR_SUCCESS);
  std::string computer;
  EXPECT_EQ(name.QueryString("ComputerName", &computer), ERROR_SUCCESS);
  EXPECT_EQ(computer, "SRV2");

  EXPECT_EQ(RegKey::Connect("\\\\NOSUCH", Hive::LocalMachine, &remote), ERROR_BAD_NETPATH);
  ASSERT_EQ(SetMachineDown(srv2, true), ERROR_SUCCESS);
  EXPECT_EQ(RegKey::Connect("\\\\SRV2", Hive::LocalMachine, &remote), ERROR_BAD_NETPATH);
  ASSERT_EQ(SetMachineDown(srv2, false), ERROR_SUCCESS);
  EXPECT_EQ(RegKey::Connect("SRV2", Hive::LocalMachine, &remote), ERROR_SUCCESS);
}

TEST_F(RegistryTest, MalformedLinesAreSkippedOnReadAndKeptOnRewrite) {
  RegKey k;
  ASSERT_EQ(RegKey::Create(Hive::LocalMachine, "Software\\Odd", &k), ERROR_SUCCESS);
  ASSERT_EQ(k.SetString("Good", "yes"), ERROR_SUCCESS);
  AppendHostFile(HklmFile(),
                 "\n[HKEY_LOCAL_MACHINE\\Software\\Odd]\n"
                 "this line means nothing\n"
                 "\"Broken\"=dword:zz\n"
                 "\"Unterminated=\"x\n");
  std::vector<RegValue> values;
  ASSERT_EQ(k.ListValues(&values), ERROR_SUCCESS);
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].name, "Good");

  ASSERT_EQ(k.SetString("Later", "written"), ERROR_SUCCESS);
  const std::string text = ReadHostFile(HklmFile());
  EXPECT_NE(text.find("this line means nothing"), std::string::npos);
  EXPECT_NE(text.find("\"Broken\"=dword:zz"), std::string::npos);
  std::string later;
  EXPECT_EQ(k.QueryString("Later", &later), ERROR_SUCCESS);
  EXPECT_EQ(later, "written");
}

// A line kept unparsed because nothing carried its '\' on (a blank line
// stood after it) must not take up the next line of hex digits once a rewrite
// has dropped the blank line: that would make a value appear.
TEST(HiveTextTest, ARewriteNeverJoinsAKeptLineToTheNextOne) {
  const std::string text = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\K]\n\"Blob\"=hex:01,02,\\\n\n03,04\n\"A\"=\"1\"\n";
  hive::HiveData h = hive::ParseHive(text);
  ASSERT_NE(h.Find("K"), nullptr);
  for (int rewrite = 0; rewrite < 2; ++rewrite) {
    const std::string written = hive::FormatHive(h, "HKEY_LOCAL_MACHINE");
    h = hive::ParseHive(written);
    const hive::KeyData* k = h.Find("k");
    ASSERT_NE(k, nullptr);
    int values = 0;
    for (const auto& l : k->lines) values += l.value ? 1 : 0;
    EXPECT_EQ(values, 1) << written;  // "A" only
    EXPECT_EQ(hive::FormatHive(h, "HKEY_LOCAL_MACHINE"), written);
  }
}

// A key deeper than NT allows is a line the hive keeps without understanding
// it: each key's section names its whole path, so a few kilobytes of depth
// would otherwise become megabytes of keys (and recursion that ran off the
// stack). Down to the limit, keys and their parents are made as usual.
TEST(HiveTextTest, AKeyDeeperThanTheLimitIsAKeptLine) {
  std::string path = "Top";
  for (size_t i = 1; i < hive::kMaxKeyDepth; ++i) path += "\\k";
  const std::string text = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\" + path + "]\n\"V\"=\"1\"\n\n" +
                           "[HKEY_LOCAL_MACHINE\\" + path + "\\Deeper]\n\"W\"=\"2\"\n";
  hive::HiveData h = hive::ParseHive(text);
  EXPECT_EQ(h.keys.size(), hive::kMaxKeyDepth + 1);  // the root and every level
  const hive::KeyData* deepest = h.Find(path);
  ASSERT_NE(deepest, nullptr);
  ASSERT_EQ(deepest->lines.size(), 3u);  // V, the deeper header and W, kept as lines
  EXPECT_TRUE(deepest->lines[0].value);
  EXPECT_FALSE(deepest->lines[1].value);
  EXPECT_EQ(hive::FormatHive(hive::ParseHive(hive::FormatHive(h, "HKEY_LOCAL_MACHINE")), "HKEY_LOCAL_MACHINE"),
            hive::FormatHive(h, "HKEY_LOCAL_MACHINE"));

  // A new key under existing ones takes their stored spelling.
  EXPECT_EQ(hive::EnsureKey(h, "TOP\\K\\New\\Sub"), "Top\\k\\New\\Sub");
  EXPECT_NE(h.Find("top\\k\\new"), nullptr);
  EXPECT_EQ(hive::ChildrenOf(h, "Top\\k"), (std::vector<std::string>{"k", "New"}));
}

// A line that is no value or no header leaves the parser's outputs as they were.
TEST(HiveTextTest, LinesThatDoNotParseLeaveTheOutputsAlone) {
  RegValue v{"kept", REG_DWORD, "data"};
  bool deleted = true;
  for (const char* line : {"\"Half\"=dword:zz", "\"Name\"", "@=hex:1,2,3zz"}) {
    EXPECT_FALSE(hive::ParseValueLine(line, &v, &deleted)) << line;
    EXPECT_EQ(v.name + v.data, "keptdata") << line;
    EXPECT_TRUE(deleted) << line;
  }
  bool deletion = true;
  std::string root = "r", path = "p";
  EXPECT_FALSE(hive::ParseSectionHeader("[\\Software]", &deletion, &root, &path));
  EXPECT_EQ(root + path, "rp");
  EXPECT_TRUE(deletion);
}

// Each call a hive write makes, failing: the hive stays as it was, the error
// is the call's, no temporary is left, and the next write goes through.
TEST_F(RegistryTest, AHiveThatCannotBeWrittenStaysIntact) {
  RegKey k;
  ASSERT_EQ(RegKey::Create(Hive::LocalMachine, "Software\\Locked", &k), ERROR_SUCCESS);
  ASSERT_EQ(k.SetString("Kept", "1"), ERROR_SUCCESS);
  const std::string before = ReadHostFile(HklmFile());
  const auto entries = [&] {
    return std::distance(std::filesystem::directory_iterator(RegistryDir(net.root())), {});
  };
  const auto files = entries();
  const struct {
    FaultCall call;
    int error;
    DWORD expected;
  } faults[] = {{FaultCall::Open, EACCES, ERROR_ACCESS_DENIED},
                {FaultCall::Lock, EIO, ERROR_WRITE_FAULT},
                {FaultCall::Write, ENOSPC, ERROR_DISK_FULL},
                {FaultCall::Rename, EACCES, ERROR_ACCESS_DENIED}};
  for (const auto& f : faults) {
    {
      ScopedFault fault(f.call, "hklm.reg", f.error);
      EXPECT_EQ(k.SetString("New", "2"), f.expected) << static_cast<int>(f.call);
    }
    EXPECT_EQ(ReadHostFile(HklmFile()), before);
    EXPECT_EQ(entries(), files);
  }
  EXPECT_EQ(k.SetString("New", "2"), ERROR_SUCCESS);
}

TEST_F(RegistryTest, ConcurrentWritersInSeveralProcessesLoseNothing) {
  constexpr int kProcesses = 4;
  constexpr int kValues = 60;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      RegKey k;
      int failures = 0;
      if (RegKey::Create(Hive::LocalMachine, "Software\\Race", &k) != ERROR_SUCCESS) ::_exit(2);
      for (int i = 0; i < kValues; ++i) {
        if (k.SetDword("p" + std::to_string(p) + "_" + std::to_string(i), static_cast<DWORD>(i)) !=
            ERROR_SUCCESS) {
          ++failures;
        }
      }
      ::_exit(failures ? 1 : 0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  RegKey k;
  ASSERT_EQ(RegKey::Open(Hive::LocalMachine, "Software\\Race", &k), ERROR_SUCCESS);
  std::vector<RegValue> values;
  ASSERT_EQ(k.ListValues(&values), ERROR_SUCCESS);
  EXPECT_EQ(values.size(), static_cast<size_t>(kProcesses * kValues));
}

TEST_F(RegistryTest, ExportAndImportCarryATreeToAnotherMachine) {
  RegKey k;
  ASSERT_EQ(RegKey::Create(Hive::LocalMachine, "Software\\Quillfen Technologies\\Portulon\\Service", &k),
            ERROR_SUCCESS);
  ASSERT_EQ(k.SetString("MasterShare", "\\\\SRV1\\PL_NT_DB"), ERROR_SUCCESS);
  ASSERT_EQ(k.SetDword("IdleTimer", 10), ERROR_SUCCESS);
  RegKey top;
  ASSERT_EQ(RegKey::Open(Hive::LocalMachine, "Software\\Quillfen Technologies", &top), ERROR_SUCCESS);
  std::string text;
  ASSERT_EQ(RegExportText(top, &text), ERROR_SUCCESS);
  EXPECT_EQ(text.rfind("REGEDIT4", 0), 0u);
  EXPECT_EQ(text.find("ComputerName"), std::string::npos) << "export is limited to the tree";

  net.AddMachine(testing::TempNetwork::DefaultConfig("SRV2"));
  ASSERT_EQ(RegImportText("SRV2", text), ERROR_SUCCESS);
  RegKey remote, service;
  ASSERT_EQ(RegKey::Connect("SRV2", Hive::LocalMachine, &remote), ERROR_SUCCESS);
  ASSERT_EQ(remote.OpenSubKey("Software\\Quillfen Technologies\\Portulon\\Service", &service),
            ERROR_SUCCESS);
  std::string share;
  EXPECT_EQ(service.QueryString("MasterShare", &share), ERROR_SUCCESS);
  EXPECT_EQ(share, "\\\\SRV1\\PL_NT_DB");

  EXPECT_EQ(RegImportText("SRV2", "[HKEY_LOCAL_MACHINE\\X]\n"), ERROR_INVALID_DATA);
  ASSERT_EQ(RegImportText("SRV2", "REGEDIT4\n\n[-HKEY_LOCAL_MACHINE\\Software\\Quillfen Technologies]\n"),
            ERROR_SUCCESS);
  EXPECT_EQ(remote.OpenSubKey("Software\\Quillfen Technologies", &service), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, NamesWithLineBreaksAreRefusedAndForgeNothing) {
  RegKey k;
  ASSERT_EQ(RegKey::Create(Hive::LocalMachine, "Software\\Names", &k), ERROR_SUCCESS);
  ASSERT_EQ(k.SetString("Kept", "yes"), ERROR_SUCCESS);
  const std::string before = ReadHostFile(HklmFile());

  const std::string forged = "x\"=\"1\"\n[HKEY_LOCAL_MACHINE\\Injected]\n@=\"owned";
  for (const std::string& name : {forged, std::string("cr\rname"), std::string("nul\0name", 8)}) {
    EXPECT_EQ(k.SetString(name, "v"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(k.SetDword(name, 1), ERROR_INVALID_PARAMETER);
    RegKey sub;
    EXPECT_EQ(k.CreateSubKey("Sub\\" + name, &sub), ERROR_INVALID_PARAMETER);
  }
  EXPECT_EQ(RegImportText("", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Names]\n\"a\rb\"=\"v\"\n"),
            ERROR_INVALID_DATA);
  EXPECT_EQ(ReadHostFile(HklmFile()), before) << "a refused name changes nothing";

  RegKey injected;
  EXPECT_EQ(RegKey::Open(Hive::LocalMachine, "Injected", &injected), ERROR_FILE_NOT_FOUND);
  std::vector<RegValue> values;
  ASSERT_EQ(k.ListValues(&values), ERROR_SUCCESS);
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].name, "Kept");
}

TEST_F(RegistryTest, ACutHexValueNeverTakesTheNextKeysHeader) {
  RegKey k;
  ASSERT_EQ(RegKey::Create(Hive::LocalMachine, "Software\\Cut", &k), ERROR_SUCCESS);
  // A hex value cut over two lines, then a broken one whose '\\' is followed by a header.
  AppendHostFile(HklmFile(),
                 "\n[HKEY_LOCAL_MACHINE\\Software\\Cut]\n"
                 "\"Blob\"=hex:01,02,\\\n  03,04\n"
                 "\"Bad\"=hex:zz,\\\n"
                 "[HKEY_LOCAL_MACHINE\\Software\\After]\n"
                 "\"Here\"=\"still\"\n");
  for (int rewrite = 0; rewrite < 3; ++rewrite) {
    RegValue blob;
    ASSERT_EQ(k.QueryValue("Blob", &blob), ERROR_SUCCESS);
    EXPECT_EQ(blob.data, std::string("\x01\x02\x03\x04", 4));
    RegKey after;
    ASSERT_EQ(RegKey::Open(Hive::LocalMachine, "Software\\After", &after), ERROR_SUCCESS)
        << "rewrite " << rewrite;
    std::string here;
    EXPECT_EQ(after.QueryString("Here", &here), ERROR_SUCCESS);
    EXPECT_EQ(here, "still");
    ASSERT_EQ(k.SetDword("Rewrites", static_cast<DWORD>(rewrite)), ERROR_SUCCESS);
    AppendHostFile(HklmFile(), "\n");  // the next read parses the file again
  }
  EXPECT_NE(ReadHostFile(HklmFile()).find("\"Bad\"=hex:zz,\\\n"), std::string::npos)
      << "the broken line is kept as it was";
}

TEST_F(RegistryTest, TypesFromTenUpSurviveUnrelatedRewrites) {
  ASSERT_EQ(RegImportText("", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Types]\n"
                              "\"Qword\"=hex(b):01,00,00,00,00,00,00,00\n"),
            ERROR_SUCCESS);
  RegKey k;
  ASSERT_EQ(RegKey::Open(Hive::LocalMachine, "Software\\Types", &k), ERROR_SUCCESS);
  const std::vector<DWORD> types = {10, 11, 15, 16, 0x1a, 0xff, 0x12345678};
  for (DWORD type : types) {
    ASSERT_EQ(k.SetValue(RegValue{"T" + std::to_string(type), type, "\x2a"}), ERROR_SUCCESS);
  }
  RegKey other;
  ASSERT_EQ(RegKey::Create(Hive::LocalMachine, "Software\\Other", &other), ERROR_SUCCESS);
  for (int rewrite = 0; rewrite < 3; ++rewrite) {
    // Rewrites by this process, by an import and by another process's tool.
    ASSERT_EQ(other.SetDword("N", static_cast<DWORD>(rewrite)), ERROR_SUCCESS);
    ASSERT_EQ(RegImportText("", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Other]\n\"M\"=\"m\"\n"),
              ERROR_SUCCESS);
    ASSERT_EQ(testing::RunTool("reg", {"add", "HKLM\\Software\\Other", "/v", "R", "/d", "r", "/f"}).code, 0);
    AppendHostFile(HklmFile(), "\n");  // the next read parses the file again
    RegValue v;
    ASSERT_EQ(k.QueryValue("Qword", &v), ERROR_SUCCESS);
    EXPECT_EQ(v.type, 11u) << "rewrite " << rewrite;
    for (DWORD type : types) {
      ASSERT_EQ(k.QueryValue("T" + std::to_string(type), &v), ERROR_SUCCESS);
      EXPECT_EQ(v.type, type) << "rewrite " << rewrite;
      EXPECT_EQ(v.data, "\x2a");
    }
  }
  // reg names the 64-bit type and shows its number; a type it has no name
  // for is shown as one, never as REG_NONE.
  const auto query = testing::RunTool("reg", {"query", "HKLM\\Software\\Types"});
  EXPECT_NE(query.out.find("Qword    REG_QWORD    0x1\n"), std::string::npos) << query.out;
  EXPECT_NE(query.out.find("T16    REG_TYPE_16    "), std::string::npos) << query.out;
  EXPECT_EQ(query.out.find("REG_NONE"), std::string::npos) << query.out;
  const std::string text = ReadHostFile(HklmFile());
  EXPECT_NE(text.find("\"Qword\"=hex(b):"), std::string::npos);
  EXPECT_NE(text.find("\"T16\"=hex(10):2a"), std::string::npos);
}

TEST_F(RegistryTest, ParentsOfASectionExistWithoutSectionsOfTheirOwn) {
  AppendHostFile(HklmFile(), "\n[HKEY_LOCAL_MACHINE\\Orphan\\Deep\\Key]\n\"V\"=\"1\"\n");
  RegKey root;
  ASSERT_EQ(RegKey::Open(Hive::LocalMachine, "Orphan", &root), ERROR_SUCCESS);
  std::vector<std::string> names;
  ASSERT_EQ(root.ListSubKeys(&names), ERROR_SUCCESS);
  EXPECT_EQ(names, std::vector<std::string>{"Deep"});
}

TEST_F(RegistryTest, CurrentUserIsTheDefaultUser) {
  RegKey cu;
  ASSERT_EQ(RegKey::Create(Hive::CurrentUser, "Software\\Test", &cu), ERROR_SUCCESS);
  ASSERT_EQ(cu.SetString("Who", "me"), ERROR_SUCCESS);
  EXPECT_EQ(cu.path(), "Software\\Test");
  RegKey viaUsers;
  ASSERT_EQ(RegKey::Open(Hive::Users, ".DEFAULT\\Software\\Test", &viaUsers), ERROR_SUCCESS);
  std::string who;
  EXPECT_EQ(viaUsers.QueryString("Who", &who), ERROR_SUCCESS);
  EXPECT_EQ(who, "me");
}

}  // namespace
}  // namespace plat
