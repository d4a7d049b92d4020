// The profile grammar and edits on strings: what each write plans to put in
// the file must turn the old text into the new one, byte for byte.
#include "platform/profile_text.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/errors.h"

namespace plat::ini {
namespace {

// The file after `plan` was carried out on `before`, as profile.cc does it.
std::string Applied(std::string before, const WritePlan& plan, uint64_t newSize) {
  for (const auto& [offset, bytes] : plan.writes) {
    if (offset + bytes.size() > before.size()) before.resize(offset + bytes.size());
    before.replace(offset, bytes.size(), bytes);
  }
  if (before.size() > newSize) before.resize(newSize);
  return before;
}

// Makes one change as a write does; returns the plan after checking it.
WritePlan Change(Profile& d, ProfileChange change) {
  ProfileChange c;
  EXPECT_EQ(Validate(change, &c), ERROR_SUCCESS);
  const std::string before = Text(d);
  WritePlan plan;
  EXPECT_TRUE(ApplyChange(d, c, plan));
  FinishPlan(d, plan, before.size());
  if (!plan.rewrite) {
    EXPECT_EQ(Applied(before, plan, d.size), Text(d));
  }
  return plan;
}

TEST(ProfileTextTest, LookupsTrimUnquoteAndSeeTheFirstPartOnly) {
  const Profile d = Parse("a=0\r\n[ Ports ]\r\n COM1 = 'x y' \r\nbad line\r\n[ports]\r\nCOM2=2\r\n");
  EXPECT_EQ(d.eol, "\r\n");
  EXPECT_EQ(Lookup(d, "PORTS ", " com1"), "x y");
  EXPECT_EQ(Lookup(d, "Ports", "COM2"), std::nullopt);  // second part: records only
  EXPECT_EQ(Lookup(d, "", "a"), std::nullopt);          // lines before a header belong to none
  EXPECT_EQ(SectionNames(d), std::vector<std::string>{"Ports"});
  EXPECT_TRUE(RecordExists(d, "ports", "com2"));
  const auto records = ReadRecords(d, "PORTS");
  ASSERT_TRUE(records);
  EXPECT_EQ(records->size(), 2u);
  EXPECT_EQ(Text(d), "a=0\r\n[ Ports ]\r\n COM1 = 'x y' \r\nbad line\r\n[ports]\r\nCOM2=2\r\n");
}

TEST(ProfileTextTest, ASmallFileIsRewrittenInOnePageWriteAndCut) {
  Profile d = Parse("[S]\nlong=0123456789\nk=1\n");
  const WritePlan plan = Change(d, {"S", "long", std::string("0")});
  ASSERT_FALSE(plan.rewrite);
  ASSERT_EQ(plan.writes.size(), 1u);
  EXPECT_EQ(plan.writes[0].first, 0u);
  // Until the cut, the old length is kept and what is left reads as a blank line.
  EXPECT_EQ(plan.writes[0].second, "[S]\nlong=0\nk=1\n" + std::string(8, ' ') + "\n");
  EXPECT_EQ(Lookup(Parse(plan.writes[0].second), "S", "k"), "1");
}

// A process killed after the in-place write but before the cut leaves the
// padded text: it must already read as the file will after the cut.
TEST(ProfileTextTest, AnUncutRewriteReadsAsTheFinishedFile) {
  for (const std::string text : {"[A]\na=1\n[B]\nb=2\r", "[A]\r\na=1\r\n[B]\r\nb=\"2\"\r",
                                 "[A]\na=1\n[B]\nb=2", "[A]\na=1\n[B]\nb=2\r\n"}) {
    Profile d = Parse(text);
    const WritePlan plan = Change(d, {"A", "", std::nullopt});
    ASSERT_FALSE(plan.rewrite);
    ASSERT_EQ(plan.writes.size(), 1u);
    const Profile uncut = Parse(plan.writes[0].second);
    EXPECT_EQ(Lookup(uncut, "B", "b"), "2") << text;
    EXPECT_EQ(Lookup(d, "B", "b"), "2") << text;
    EXPECT_EQ(SectionNames(uncut), SectionNames(d)) << text;
  }
}

TEST(ProfileTextTest, ALargeFileKeepsLineLengthsAndGrowsOnlyAtItsEnd) {
  const std::string filler = ";" + std::string(kPadFileSize, '-') + "\n";
  Profile d = Parse(filler + "[S]\ncount=12345\n[Log]\n1=a\n");
  // A shorter value is padded where it stands.
  WritePlan plan = Change(d, {"S", "count", std::string("7")});
  ASSERT_EQ(plan.writes.size(), 1u);
  EXPECT_EQ(plan.writes[0].second, "count=7    ");
  EXPECT_EQ(Lookup(d, "S", "count"), "7");
  // A record for the last section is one append; for another, a new part.
  const uint64_t end = d.size;
  plan = WritePlan{};
  ASSERT_EQ(AppendRecord(d, "log", "2", "b", plan), ERROR_SUCCESS);
  ASSERT_EQ(plan.writes.size(), 1u);
  EXPECT_EQ(plan.writes[0], (std::pair<uint64_t, std::string>{end, "2=b\n"}));
  plan = WritePlan{};
  ASSERT_EQ(AppendRecord(d, "S", "other", "c", plan), ERROR_SUCCESS);
  EXPECT_EQ(plan.writes.back().second, "[S]\nother=c\n");
  EXPECT_EQ(AppendRecord(d, "s", "OTHER", "again", plan), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(Lookup(d, "S", "other"), std::nullopt);  // a later part
  EXPECT_TRUE(RecordExists(d, "S", "other"));
  // A value that grows cannot stay in place.
  EXPECT_TRUE(Change(d, {"S", "count", std::string("123456789")}).rewrite);
  const Profile reread = Parse(Text(d));
  EXPECT_EQ(ReadRecords(reread, "S"), ReadRecords(d, "S"));
  EXPECT_EQ(ReadRecords(reread, "Log"), ReadRecords(d, "Log"));
}

// A change refused leaves the checked change as it was.
TEST(ProfileTextTest, ARefusedChangeLeavesTheCheckedOneAlone) {
  ProfileChange out{"S", "k", std::string("v")};
  for (const ProfileChange& bad : {ProfileChange{"Sec", "a\nb", std::string("1")},
                                   ProfileChange{"Sec", ";k", std::string("1")},
                                   ProfileChange{"Sec", "k", std::string("1\r2")},
                                   ProfileChange{" ", "k", std::string("1")}}) {
    EXPECT_EQ(Validate(bad, &out), ERROR_INVALID_PARAMETER) << bad.key;
    EXPECT_EQ(out.section + out.key + out.value.value_or("-"), "Skv") << bad.key;
  }
}

// Deleting a key takes every line of it (any case) and nothing between them;
// deleting a section in many parts leaves their comments, which later edits
// fold into the sections before them.
TEST(ProfileTextTest, DeletionsTakeEveryLineOfTheirNameAndNoOther) {
  Profile d = Parse("[S]\na=1\nb=2\n A =3\n;c\na=4\n[T]\na=5\n");
  Change(d, {"S", "a", std::nullopt});
  EXPECT_EQ(Text(d), "[S]\nb=2\n;c\n[T]\na=5\n");

  std::string text = "[Keep]\nk=1\n";
  for (int i = 0; i < 100; ++i) text += "[Gone]\ng" + std::to_string(i) + "=x\n;note " + std::to_string(i) + "\n";
  d = Parse(text + "[Last]\nl=2\n");
  Change(d, {"Gone", "", std::nullopt});
  Change(d, {"Keep", "k", std::string("3")});  // compacts the leftovers
  EXPECT_LT(d.sections.size(), 10u);
  const std::string after = Text(d);
  EXPECT_NE(after.find(";note 0\n;note 1\n"), std::string::npos);
  EXPECT_EQ(after.find("[Gone]"), std::string::npos);
  EXPECT_EQ(Lookup(d, "Keep", "k"), "3");
  EXPECT_EQ(Lookup(d, "Last", "l"), "2");
  EXPECT_EQ(Lookup(Parse(after), "Last", "l"), "2");
}

}  // namespace
}  // namespace plat::ini

namespace plat::ini {
namespace {

// ---- Following another writer's change from the bytes it wrote ----

namespace following {

// Brings `cached` (the old text parsed) to `after` from the ranges a write
// put there, as a reader of another process's change does.
bool Follow(Profile& cached, const std::string& after, const std::vector<std::pair<uint64_t, uint64_t>>& ranges) {
  std::vector<std::pair<uint64_t, std::string>> patches;
  for (const auto& [b, e] : WholeLines(cached, ranges)) patches.emplace_back(b, after.substr(b, e - b));
  const std::string tail = after.substr(static_cast<size_t>(cached.size));
  if (!tail.empty() && !CanAppendText(cached)) return false;
  if (!PatchLines(cached, patches)) return false;
  return AppendText(cached, tail);
}

std::vector<std::pair<uint64_t, uint64_t>> RangesOf(const WritePlan& plan) {
  std::vector<std::pair<uint64_t, uint64_t>> ranges;
  for (const auto& [offset, bytes] : plan.writes) ranges.emplace_back(offset, offset + bytes.size());
  return ranges;
}

// Everything a reader can ask of `followed` is what a parse of `text` answers.
void ExpectAsParsed(const Profile& followed, const std::string& text) {
  const Profile fresh = Parse(text);
  ASSERT_EQ(Text(followed), text);
  EXPECT_EQ(followed.size, text.size());
  Profile offsets = followed;
  offsets.RecomputeOffsets();
  for (size_t i = 0; i < followed.sections.size(); ++i) ASSERT_EQ(followed.sections[i].offset, offsets.sections[i].offset);
  ASSERT_EQ(SectionNames(followed), SectionNames(fresh));
  for (const auto& name : SectionNames(fresh)) {
    EXPECT_EQ(Values(*FindSection(followed, name)), Values(*FindSection(fresh, name))) << name;
    EXPECT_EQ(ReadRecords(followed, name), ReadRecords(fresh, name)) << name;
  }
}

}  // namespace following

TEST(ProfileTextTest, AnotherWritersAppendsAndInPlaceChangesAreFollowedExactly) {
  using namespace following;
  // A day log large enough for shorter values to be padded in place, with a
  // header-less preamble, CRLF-free lines and sections in several parts.
  std::string text = "; day log\n[SRV1\\COM3]\nCount=10\n";
  for (int i = 0; i < 3000; ++i) {
    text += "[SRV1\\COM" + std::to_string(i % 7) + "]\n" + std::to_string(1000 + i) + "=C_DOM\\user" +
            std::to_string(i) + "\n";
  }
  Profile writer = Parse(text);
  Profile reader = Parse(text);
  RecordIndex index = RecordIndex::Build(text);
  unsigned seed = 7;
  auto next = [&seed](unsigned n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  int followedInPlace = 0, rewrites = 0;
  for (int round = 0; round < 400; ++round) {
    const uint64_t oldSize = writer.size;
    WritePlan plan;
    const std::string port = "SRV1\\COM" + std::to_string(next(9));  // 7 and 8 are new sections
    switch (next(4)) {
      case 0:
      case 1: {
        // Half of them a key the section already holds in some part.
        const std::string key = std::to_string(next(2) ? 5000 + round : 1000 + static_cast<int>(next(3000)));
        const bool held = RecordExists(writer, port, key);
        ASSERT_EQ(index.Holds(port, key), held) << port << " " << key;
        const DWORD err = AppendRecord(writer, port, key, "H_DOM\\x?" + std::to_string(round), plan);
        ASSERT_EQ(err, held ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
        if (!held) {
          std::string bytes;
          for (const auto& w : plan.writes) bytes += w.second;
          ASSERT_EQ(index.AppendBytes(port, key, "H_DOM\\x?" + std::to_string(round)), bytes);
          ASSERT_TRUE(index.Append(bytes));
        }
        break;
      }
      case 2: {  // the call-back rewrite of an earlier record, shorter: padded in place
        const int i = static_cast<int>(next(3000));
        ASSERT_EQ(ReplaceRecord(writer, "SRV1\\COM" + std::to_string(i % 7), std::to_string(1000 + i), "C_x", plan),
                  ERROR_SUCCESS);
        ++followedInPlace;
        break;
      }
      default: {  // a counter kept in the preamble's neighbour section
        ProfileChange c;
        ASSERT_EQ(Validate({"SRV1\\COM3", "Count", std::to_string(10 + next(90))}, &c), ERROR_SUCCESS);
        ApplyChange(writer, c, plan);
        break;
      }
    }
    if (plan.writes.empty() && !plan.rewrite) continue;  // nothing changed: nothing written
    FinishPlan(writer, plan, oldSize);
    const std::string after = Text(writer);
    if (!plan.rewrite) {
      ASSERT_EQ(index.size(), after.size());
    }
    if (plan.rewrite) {
      reader = Parse(after);
      index = RecordIndex::Build(after);
      ++rewrites;
      continue;
    }
    index.SetLastByte(after.back());
    ASSERT_TRUE(Follow(reader, after, RangesOf(plan))) << "round " << round;
    ExpectAsParsed(reader, after);
    if (::testing::Test::HasFatalFailure()) return;
  }
  EXPECT_GT(followedInPlace, 50);
  EXPECT_EQ(rewrites, 0) << "a file this large is written where it stands";
}

TEST(ProfileTextTest, AChangeBeyondAValueIsFollowedOrRefusedUnchanged) {
  using namespace following;
  const std::string text = "[A]\nk1=one\nk2=two\n; note\n[B]\nx=1\n";
  auto changed = [&](std::string_view from, std::string_view to) {
    std::string t = text;
    const size_t at = t.find(from);
    t.replace(at, from.size(), to);
    return std::make_pair(t, std::vector<std::pair<uint64_t, uint64_t>>{{at, at + to.size()}});
  };
  // A key renamed, a comment made a key, a key made a comment: followed.
  for (const auto& [from, to] : {std::pair{"k2=two", "kX=two"}, {"; note", "n=note"}, {"k1=one", ";1=one"}}) {
    Profile cached = Parse(text);
    const auto [after, ranges] = changed(from, to);
    ASSERT_TRUE(Follow(cached, after, ranges)) << to;
    ExpectAsParsed(cached, after);
  }
  // A header touched, a line break moved, a line made a header: refused, nothing changed.
  for (const auto& [from, to] : {std::pair{"[B]", "[C]"}, {"k1=one\n", "k1=on\ne"}, {"; note", "[note]"}}) {
    Profile cached = Parse(text);
    const auto [after, ranges] = changed(from, to);
    EXPECT_FALSE(Follow(cached, after, ranges)) << to;
    ExpectAsParsed(cached, text);
  }
  // Text added after a last line still open is not taken.
  Profile open = Parse("[A]\nk=1");
  EXPECT_FALSE(CanAppendText(open));
  EXPECT_FALSE(AppendText(open, "\nj=2\n"));
  ExpectAsParsed(open, "[A]\nk=1");
}

TEST(ProfileTextTest, ARecordIndexAppendsAndFindsAsTheParsedFileDoes) {
  // CRLF lines, keys before any header, a key with a leading zero and one
  // with ".0", names in other cases and blanks, an open last line.
  const std::string text =
      "100=preamble\r\n[SRV1\\COM1]\r\n 0123 = a\r\n160.0=b\r\nname=c\r\n[srv1\\com2]\r\n200=d\r\n"
      "[SRV1\\COM1]\r\n300=e\r\n300.2=f";
  const Profile parsed = Parse(text);
  RecordIndex index = RecordIndex::Build(text);
  for (const char* section : {"SRV1\\COM1", "srv1\\com1", "SRV1\\COM2", "SRV1\\COM3"}) {
    for (const char* key : {"100", "0123", "123", "160.0", "160", "NAME", "200", "300", "300.2", "300.1", "3000"}) {
      EXPECT_EQ(index.Holds(section, key), RecordExists(parsed, section, key)) << section << " " << key;
    }
  }
  // What the edit would append, for the last section, another and a new one.
  for (const char* section : {"srv1\\com1", "SRV1\\COM2", "SRV1\\COM9"}) {
    Profile d = parsed;
    WritePlan plan;
    ASSERT_EQ(AppendRecord(d, section, "400", "g", plan), ERROR_SUCCESS);
    std::string bytes;
    for (const auto& w : plan.writes) bytes += w.second;
    EXPECT_EQ(index.AppendBytes(section, "400", "g"), bytes) << section;
  }
  // Read in pieces of any size, the file gives the same index.
  for (size_t piece = 1; piece < 9; ++piece) {
    RecordIndex fed;
    for (size_t at = 0; at < text.size(); at += piece) fed.Feed(std::string_view(text).substr(at, piece));
    fed.Finish();
    EXPECT_EQ(fed.size(), text.size());
    for (const char* key : {"0123", "160.0", "name", "200", "300", "300.2"}) {
      EXPECT_EQ(fed.Holds("SRV1\\COM1", key), index.Holds("SRV1\\COM1", key)) << piece << " " << key;
    }
    EXPECT_EQ(fed.AppendBytes("SRV1\\COM1", "1", "x"), index.AppendBytes("SRV1\\COM1", "1", "x"));
  }
  // Text that continues the open last line is not taken; a closed one is.
  EXPECT_FALSE(index.Append("9=x\r\n"));
  ASSERT_TRUE(index.Append("\r\n[SRV1\\COM2]\r\n500=h\r\n"));
  EXPECT_TRUE(index.Holds("SRV1\\COM2", "500"));
  EXPECT_TRUE(index.Holds("SRV1\\COM1", "300.2"));
  EXPECT_EQ(index.AppendBytes("SRV1\\COM2", "501", "i"), "501=i\r\n");
  EXPECT_EQ(index.size(), text.size() + std::string("\r\n[SRV1\\COM2]\r\n500=h\r\n").size());
}

}  // namespace
}  // namespace plat::ini
