// The run log on the test machine: lines with their time stamps and kinds,
// UTF-8 text, turning over past the limit, and a log that cannot be
// written, which must never reach the caller.
#include <gtest/gtest.h>

#include <optional>

#include "shell/RunLog.h"
#include "tests/core/TestHost.h"

namespace ovlu::test {
namespace {

constexpr char kLog[] = "C:\\Dati\\OVLiveUpdate.log";
constexpr char kOld[] = "C:\\Dati\\OVLiveUpdate.log.old";

struct LogPlace {
  LogPlace() {
    SetHost(&fs, &sys);
    fs.MakeFolder("C:\\Dati");
    Log().Open("");
    Log().Flush();
    Log().clock = [] { return std::string("T"); };
    Log().Open(kLog);
  }
  ~LogPlace() {
    Log().Open("");
    Log().Flush();
    Log().clock = nullptr;
    SetHost(nullptr, nullptr);
  }
  TestFileSystem fs;
  TestSystem sys;
};

TEST(RunLogTest, WhatIsThereDecidesWhereTheLinesGo) {
  const std::string limit(RunLog::kLimit, 'x');
  struct Case {
    const char* name;
    std::optional<std::string> log, old;  // before; none: no such file
    bool readOnlyLog = false;
    std::string logAfter, oldAfter;  // "-": no such file
  } cases[] = {
      {"a new log", std::nullopt, std::nullopt, false, "T k riga\n", "-"},
      {"appended", "prima\n", std::nullopt, false, "prima\nT k riga\n", "-"},
      {"at the limit it stays", limit, "vecchio", false, limit + "T k riga\n", "vecchio"},
      {"past the limit it turns over", limit + "y", "vecchio", false, "T k riga\n", limit + "y"},
      {"past the limit, no older one", limit + "y", std::nullopt, false, "T k riga\n", limit + "y"},
      {"a read-only log is left as it is", "prima\n", std::nullopt, true, "prima\n", "-"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogPlace p;
    if (c.log) p.fs.Put(kLog, *c.log);
    if (c.old) p.fs.Put(kOld, *c.old);
    if (c.readOnlyLog) p.fs.SetAttributes(kLog, attrReadOnly);
    Log().Add("k", "riga");
    EXPECT_NO_THROW(Log().Flush());
    EXPECT_EQ(p.fs.Has(kLog) ? p.fs.Get(kLog) : "-", c.logAfter);
    EXPECT_EQ(p.fs.Has(kOld) ? p.fs.Get(kOld) : "-", c.oldAfter);
  }
}

TEST(RunLogTest, LinesAreUtf8AndStayOneLineEach) {
  LogPlace p;
  Log().Add("move", "rename C:\\Citt\xE0\\a -> b: error 75: no\r\nway");
  Log().Add("hop", "HTTP/1.1 404 Not Found");
  Log().Flush();
  Log().Flush();  // nothing gathered: nothing more written
  EXPECT_EQ(
      p.fs.Get(kLog),
      "T move rename C:\\Citt\xC3\xA0\\a -> b: error 75: no  way\nT hop HTTP/1.1 404 Not Found\n");
}

TEST(RunLogTest, AFolderThatCannotBeWrittenDropsTheLines) {
  LogPlace p;
  Log().Open("C:\\Manca\\OVLiveUpdate.log");
  Log().Add("start", "uno");
  EXPECT_NO_THROW(Log().Flush());
  // The lines are gone, not kept for a later log.
  Log().Open(kLog);
  Log().Add("start", "due");
  Log().Flush();
  EXPECT_EQ(p.fs.Get(kLog), "T start due\n");
}

TEST(RunLogTest, TheRealClockGivesLocalTimeToTheMillisecond) {
  LogPlace p;
  Log().clock = nullptr;
  Log().Add("start", "x");
  Log().Flush();
  const std::string line = p.fs.Get(kLog);
  // "YYYY-MM-DD HH:MM:SS.mmm start x"
  ASSERT_EQ(line.size(), 32u) << line;
  for (std::size_t i : {4u, 7u}) EXPECT_EQ(line[i], '-');
  for (std::size_t i : {13u, 16u}) EXPECT_EQ(line[i], ':');
  EXPECT_EQ(line[19], '.');
  EXPECT_EQ(line.substr(23), " start x\n");
}

}  // namespace
}  // namespace ovlu::test
