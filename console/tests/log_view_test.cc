// The history views on the offscreen platform, over a day like the demo's:
// the log view's fill, sort, filter, save, print, customise and timer, the
// usage and statistics views, the calendar and the multi-day export. The
// screenshots and the printout stay in build/artifacts.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QPrinter>
#include <QProgressDialog>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

#include "common/log_record.h"
#include "common/testing/installed_modules.h"
#include "common/testing/installed_portulon.h"
#include "console/tests/console_test_support.h"
#include "console/ui/calendar_jump.h"
#include "console/ui/customize_log_view.h"
#include "console/ui/export_days_dialog.h"
#include "console/core/log_view_model.h"
#include "console/ui/log_view.h"
#include "console/ui/main_window.h"
#include "console/ui/settings_dialog.h"
#include "console/ui/statistics_view.h"
#include "console/ui/usage_view.h"
#include "platform/file.h"
#include "platform/profile.h"
#include "platform/sysinfo.h"
#include "platform/testing/ras_testing.h"

namespace pladmin::ui {
namespace {

using namespace pladmin::testing;

const QString kArtifacts = QStringLiteral(PORTULON_ARTIFACTS_DIR);

void Shot(QWidget& widget, const QString& name) {
  QDir().mkpath(kArtifacts);
  ASSERT_TRUE(widget.grab().save(kArtifacts + "/" + name));
}

// Runs a program and gives its output; the status in *code.
std::string RunCommandLine(const std::string& command, int* code) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) {
    *code = -1;
    return out;
  }
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  *code = pclose(pipe);
  return out;
}

// Reads a CSV file back with Python's csv module: "rows width" when every row
// is as wide as the heading, else what differs.
std::string ReadBackCsv(const QString& path) {
  int code = 0;
  const std::string script =
      "import csv,sys\n"
      "rows=list(csv.reader(open(sys.argv[1],newline='')))\n"
      "bad=[i for i,r in enumerate(rows) if len(r)!=len(rows[0])]\n"
      "print(len(rows)-1,len(rows[0]),'uneven',bad) if bad else print(len(rows)-1,len(rows[0]))\n";
  const std::string out =
      RunCommandLine("python3 -c \"" + QString::fromStdString(script).replace("\"", "\\\"").toStdString() +
              "\" '" + path.toStdString() + "' 2>&1",
          &code);
  return code == 0 ? out.substr(0, out.find('\n')) : "python3 failed: " + out;
}

class LogViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(common::testing::InstallPortulon(net_));
    WriteServiceKey("SRV1", true, "\\\\SRV1\\PL_NT_DB");
    ListServers({"SRV1"});
    today_ = plat::LocalTime(plat::Now());
    log_ = "C:\\PLData\\LogData\\" + plat::GetDateFormat(1033, today_, "yyyy-MMM-dd") + ".log";
  }

  std::time_t At(int hour, int minute) const {
    return plat::FromLocalTime(plat::CalendarTime(today_.tm_year + 1900, today_.tm_mon + 1,
                                                  today_.tm_mday, hour, minute));
  }
  void Add(const std::string& section, std::time_t t, const std::string& value) {
    ASSERT_EQ(plat::ProfileAppendRecord(log_, section, std::to_string(t), value), plat::ERROR_SUCCESS);
  }
  // The day the demo plays: admissions, the four refusals, an idle cut, a
  // cut at the deadline, and the router's caller on two links.
  void WriteDemoDay() {
    using namespace common;
    Add("SRV1\\COM1", At(9, 0), FormatConnectionRecord("DOM\\ann"));
    Add("SRV1\\COM5", At(9, 2), FormatRefusalRecord("DOM\\ann", 4));
    Add("SRV1\\COM6", At(9, 3), FormatRefusalRecord("DOM\\erin", 1));
    Add("SRV1\\COM2", At(9, 5), FormatRefusalRecord("DOM\\dave", 3));
    Add("SRV1\\COM4", At(9, 6), FormatRefusalRecord("DOM\\bob", 5));
    Add("SRV1\\COM3", At(9, 10), FormatConnectionRecord("DOM\\carol"));
    Add("SRV1\\COM3", At(9, 12), FormatHangUpRecord(120, "DOM\\carol", 0, 9, "", "CAROLPC", 5120, 2048));
    Add("SRV1\\COM10", At(10, 0), FormatCallbackConnectionRecord("DOM\\bob", "555-0100"));
    Add("SRV1\\COM10", At(11, 0), FormatHangUpRecord(3600, "DOM\\bob", 167772171, 2, "", "BOBPC", 1234567, 7654321));
    Add("SRV2\\COM1", At(12, 0), FormatConnectionRecord("DOM\\grace"));
    Add("SRV2\\COM2", At(12, 0), FormatConnectionRecord("DOM\\grace"));
    Add("SRV2\\COM1", At(12, 1), FormatHangUpRecord(60, "DOM\\grace", 0, 9, "", "", -1, -1));
    Add("SRV2\\COM2", At(12, 1), FormatHangUpRecord(60, "DOM\\grace", 0, 9, "", "", -1, -1));
    Add("SRV1\\COM1", At(13, 30), FormatHangUpRecord(16200, "DOM\\ann", 167772170, 0, "", "ANNPC", 250000, 1200000));
  }
  static constexpr int kDemoRecords = 14;

  // The console's window once the master is known.
  void Open(MainWindow& w) {
    w.resize(1200, 640);
    w.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.initialPollDone(); }, 20000));
    ASSERT_TRUE(w.document().servers().masterKnown());
  }
  // Shows a content view and waits until it has its data.
  LogView* ShowLog(MainWindow& w) {
    w.RunCommand(ID_VIEW_LOG);
    auto* view = qobject_cast<LogView*>(w.container()->content());
    EXPECT_NE(view, nullptr);
    if (view) {
      EXPECT_TRUE(QTest::qWaitFor([&] { return !view->loading(); }, 10000));
    }
    QApplication::processEvents();
    return view;
  }
  static bool WaitFilled(LogView* view, QSignalSpy& spy, int count) {
    return QTest::qWaitFor([&] { return spy.count() >= count && !view->loading(); }, 10000);
  }

  plat::testing::TempNetwork net_;
  RecordingSink sink_;
  std::tm today_{};
  std::string log_;
  QTemporaryDir temp_;
};

TEST_F(LogViewTest, TheDemosDayFillsSortsFiltersSavesAndPrints) {
  WriteDemoDay();
  RunningServices services;  // the tree lists SRV1's ports
  ASSERT_NO_FATAL_FAILURE(services.Start("SRV1"));
  MainWindow w(&sink_);
  ASSERT_NO_FATAL_FAILURE(Open(w));
  LogView* view = ShowLog(w);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(w.container()->caption()->text(), "History");
  ASSERT_EQ(view->model()->rowCount(), kDemoRecords);
  EXPECT_EQ(w.eventPane()->text(), QString("%1 Events").arg(kDemoRecords));
  EXPECT_EQ(view->filterText(), "(all available records)");
  EXPECT_EQ(view->model()->columnCount(), 12);
  const QStringList bob = view->RowTexts(9);
  EXPECT_EQ(bob[2], "COM10");
  EXPECT_EQ(bob[3], "Disconnect");
  EXPECT_EQ(bob[4], "User Max Session Time Reached");
  EXPECT_EQ(bob[6], "10.0.0.11");
  EXPECT_EQ(bob[9], "1\"00'00");
  EXPECT_EQ(bob[10], "1,234,567");
  EXPECT_TRUE(sink_.messages.empty());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !w.eventPane()->painting(); }, 3000));  // the load's signal ends the painter
  ASSERT_NO_FATAL_FAILURE(Shot(w, "pladmin_log.png"));

  // A click on Time: newest first; again: oldest first.
  SharedSortDirection() = 1;
  QHeaderView* header = view->list()->header();
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(header->sectionPosition(0) + 5, 5));
  EXPECT_EQ(view->RowTexts(0)[5], "DOM\\ann");
  EXPECT_EQ(view->RowTexts(0)[3], "Disconnect");
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(header->sectionPosition(0) + 5, 5));
  EXPECT_EQ(view->RowTexts(0)[3], "Connect");
  EXPECT_EQ(view->RowTexts(0)[5], "DOM\\ann");

  // The printout: the heading line and every row, read back from the PDF.
  QDir().mkpath(kArtifacts);
  const QString pdf = kArtifacts + "/pladmin_log.pdf";
  {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    printer.setPageOrientation(QPageLayout::Landscape);
    view->PrintTo(&printer);
  }
  int code = 0;
  const std::string text = RunCommandLine("pdftotext -layout '" + pdf.toStdString() + "' - 2>&1", &code);
  ASSERT_EQ(code, 0) << "pdftotext (poppler-utils) reads the printout: " << text;
  const std::string day = plat::GetDateFormat(plat::GetUserDefaultLCID(), today_, "dddd, MMMM dd, yyyy");
  const size_t heading = text.find("Logged activities in Portulon during " + day + " (all available records).     ");
  ASSERT_NE(heading, std::string::npos) << text;
  const std::string headingLine = text.substr(heading, text.find('\n', heading) - heading);
  const std::string pageText = headingLine.substr(headingLine.find_last_of('.') + 1);
  EXPECT_EQ(pageText.substr(pageText.find_first_not_of(' ')), "Page 1(1)") << headingLine;
  for (int row = 0; row < view->model()->rowCount(); ++row) {
    const QStringList cells = view->RowTexts(row);
    bool found = false;
    for (size_t at = text.find(cells[0].toStdString()); at != std::string::npos && !found;
         at = text.find(cells[0].toStdString(), at + 1)) {
      const std::string line = text.substr(at, text.find('\n', at) - at);
      found = line.find(cells[2].toStdString()) != std::string::npos &&
              line.find(cells[5].toStdString()) != std::string::npos;
    }
    EXPECT_TRUE(found) << "row " << row << " " << cells.join('|').toStdString();
  }

  // The saved file: every row as wide as the heading, the byte counts whole.
  const QString csv = temp_.filePath("day.csv");
  ASSERT_TRUE(view->SaveTo(csv));
  EXPECT_EQ(ReadBackCsv(csv), QString("%1 12").arg(kDemoRecords).toStdString());
  QFile saved(csv);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  const QByteArray bytes = saved.readAll();
  EXPECT_TRUE(bytes.startsWith("Time/Date,Server,Port,Action,Information,User,IP,NetBIOS,IPX,Lasted,Bytes In,Bytes Out\r\n"));
  EXPECT_TRUE(bytes.contains(",\"1,234,567\",\"7,654,321\"\r\n")) << bytes.toStdString();
  // Selected rows only, when there is a selection; and the same to the clipboard.
  view->list()->selectionModel()->select(view->model()->index(0, 0),
                                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
  ASSERT_TRUE(view->SaveTo(csv));
  EXPECT_EQ(ReadBackCsv(csv), "1 12");
  view->CopyToClipboard();
  EXPECT_TRUE(QApplication::clipboard()->text().startsWith(view->RowTexts(0)[0] + ",SRV1,COM1,Connect,"));

  // The tree's port: only its rows.
  w.container()->tree()->Select("SRV1", "COM1");
  QApplication::processEvents();
  auto* portView = qobject_cast<LogView*>(w.container()->content());
  ASSERT_NE(portView, nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !portView->loading() && portView->filterText() == "(Port SRV1\\COM1)"; }, 10000));
  EXPECT_EQ(portView->model()->rowCount(), 2);

  // The port's own settings page, as `plsettings port` writes it: its values
  // in human units in the port's section of portulon.hw.
  ASSERT_TRUE(w.action(ID_PORT_SETTINGS)->isEnabled());
  bool portSaved = false;
  QTimer::singleShot(0, [&] {
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.openSettings() != nullptr; }, 5000));
    SettingsDialog* sheet = w.openSettings();
    EXPECT_EQ(sheet->windowTitle(), "SRV1\\COM1 Settings");
    sheet->SetTyped("StaticIP", "10.0.0.300");
    EXPECT_FALSE(sheet->Save());
    sheet->SetTyped("StaticIP", "10.0.0.77");
    sheet->SetTyped("MaxSessionTime", "1h30m");
    sheet->SetTyped("AllowedGroups", "Dialers");
    portSaved = sheet->Save();
    sheet->accept();
  });
  w.RunCommand(ID_PORT_SETTINGS);
  ASSERT_TRUE(portSaved);
  EXPECT_EQ(plat::ProfileGetString("C:\\PLData\\portulon.hw", "SRV1\\COM1", "MaxSessionTime", ""), "5400");
  EXPECT_EQ(plat::ProfileGetString("C:\\PLData\\portulon.hw", "SRV1\\COM1", "AllowedGroups", ""), "Dialers");
  EXPECT_NE(plat::ProfileGetString("C:\\PLData\\portulon.hw", "SRV1\\COM1", "StaticIP", ""), "");
}

TEST_F(LogViewTest, CustomisedColumnsTheTimerAndKeptColumnWidths) {
  WriteDemoDay();
  MainWindow w(&sink_);
  ASSERT_NO_FATAL_FAILURE(Open(w));
  LogView* view = ShowLog(w);
  ASSERT_NE(view, nullptr);

  // Every column off but Time; sizing off: the saved heading is "Time/Date" alone.
  {
    CustomizeLogViewDialog dialog(w.document().clientSettings(), view);
    EXPECT_FALSE(dialog.columnBox(kColTime)->isEnabled());
    for (int flag = kColServer; flag <= kColBytesOut; flag <<= 1) dialog.columnBox(flag)->setChecked(false);
    for (QCheckBox* box : dialog.findChildren<QCheckBox*>()) {
      if (box->text() == "Autosize Columns") box->setChecked(false);
    }
    dialog.Apply(w.document());
  }
  view->OnUpdate(kHintColumns, -1);
  EXPECT_EQ(view->model()->columnCount(), 1);
  plat::DWORD value = 0;
  ASSERT_EQ(plat::RegReadDword(kClientKey, "HistoryViewColumns", &value), plat::ERROR_SUCCESS);
  EXPECT_EQ(value, 1u);
  ASSERT_EQ(plat::RegReadDword(kClientKey, "AutoSizeColumns", &value), plat::ERROR_SUCCESS);
  EXPECT_EQ(value, 1u);
  const QString csv = temp_.filePath("time.csv");
  ASSERT_TRUE(view->SaveTo(csv));
  QFile saved(csv);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  EXPECT_TRUE(saved.readLine() == "Time/Date\r\n");

  // A width the user gave comes back with the next log view.
  view->list()->setColumnWidth(0, 177);
  w.RunCommand(ID_VIEW_STATUS);
  QApplication::processEvents();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  view = ShowLog(w);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->list()->columnWidth(0), 177);

  // New records while the view is open: the timer's look shows them, and the
  // place in the list stays; a writer busy meanwhile never shows half a record.
  QSignalSpy filled(view, &LogView::Filled);
  view->CheckFileSize();  // nothing new: nothing read
  EXPECT_EQ(filled.count(), 0);
  // Newest first: the order the user chose stays through the refills.
  SharedSortDirection() = 1;
  QHeaderView* header = view->list()->header();
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(header->sectionPosition(0) + 5, 5));
  EXPECT_EQ(view->model()->RecordAt(0).time, At(13, 30));
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int i = 0; i < 400 && !stop; ++i) {
      plat::ProfileAppendRecord(log_, "SRV1\\COM7", std::to_string(At(15, 0) + i),
                                common::FormatHangUpRecord(i, "DOM\\eve", 0, 0, "", "EVEPC", i, i));
    }
  });
  int checks = 0;
  while (QTest::qWaitFor([&] { return !view->loading(); }, 10000) && checks < 20) {
    view->CheckFileSize();
    ++checks;
    QTest::qWait(20);
  }
  stop = true;
  writer.join();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !view->loading(); }, 10000));
  view->CheckFileSize();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !view->loading() && view->model()->rowCount() == kDemoRecords + 400; }, 10000))
      << view->model()->rowCount();
  EXPECT_GE(filled.count(), 1);
  EXPECT_EQ(view->model()->RecordAt(0).time, At(15, 0) + 399);
  for (int row = 0; row < view->model()->rowCount(); ++row) {
    const common::LogRecordView r = view->model()->RecordAt(row);
    ASSERT_NE(r.kind, common::kRecordUnknown) << row;
    ASSERT_FALSE(r.user.empty()) << row;
  }
}

// The service records dial-ins while the view is open: each look at the file
// shows what was added, every record whole.
TEST_F(LogViewTest, TheServiceWritingWhileTheViewIsOpen) {
  common::testing::InstallAdminDll(net_);  // the hook module asks Portulon
  RunningServices services;
  ASSERT_NO_FATAL_FAILURE(services.Start("SRV1", "Portulon"));
  ASSERT_NO_FATAL_FAILURE(services.Start("SRV1"));
  MainWindow w(&sink_);
  ASSERT_NO_FATAL_FAILURE(Open(w));
  LogView* view = ShowLog(w);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->model()->rowCount(), 0);
  const auto hangUp = [&](const char* port) {
    ASSERT_EQ(plat::testing::RunTool("rasctl", {"--machine", net_.root(), "hangup", port}).code, 0);
  };
  const auto look = [&](int rows) {
    return QTest::qWaitFor([&] {
      if (!view->loading()) view->CheckFileSize();
      return !view->loading() && view->model()->rowCount() == rows;
    }, 10000);
  };
  ASSERT_NO_FATAL_FAILURE(Dial(net_.root(), "COM1", "DOM\\ann", {"--wksta", "ANNPC"}));
  EXPECT_TRUE(look(1)) << view->model()->rowCount();
  const auto refused = plat::testing::RunTool("rasctl", {"--machine", net_.root(), "dial", "COM2", "DOM\\eve"});
  EXPECT_EQ(refused.out, "COM2: DOM\\eve refused (1: User not defined)\n");  // no profile
  ASSERT_NO_FATAL_FAILURE(Dial(net_.root(), "COM3", "DOM\\bob"));
  ASSERT_NO_FATAL_FAILURE(hangUp("COM1"));
  ASSERT_NO_FATAL_FAILURE(hangUp("COM3"));
  EXPECT_TRUE(look(5)) << view->model()->rowCount();
  std::vector<std::string> actions;
  for (int row = 0; row < view->model()->rowCount(); ++row) {
    actions.push_back(view->RowTexts(row)[3].toStdString() + " " + view->RowTexts(row)[5].toStdString());
  }
  std::sort(actions.begin(), actions.end());
  EXPECT_EQ(actions, (std::vector<std::string>{"Connect DOM\\ann", "Connect DOM\\bob", "Denied DOM\\eve",
                                               "Disconnect DOM\\ann", "Disconnect DOM\\bob"}));
  EXPECT_EQ(w.eventPane()->text(), "5 Events");
}

TEST_F(LogViewTest, BadLinesShowWhatTheyCanAndTheSavedFileStaysWellFormed) {
  ASSERT_EQ(plat::WriteWholeFile(log_, "[SRV1\\COM1]\n"
                                       "100=H60_DOM\\ann?0\n"
                                       "101=H90_DOM\\bob?1?0::?:12:34\n"
                                       "102=Zebra\n"
                                       "x7=C_DOM\\ann\n"
                                       "103=C_DOM\\" + std::string(1000, 'u') + "\n"
                                       "104=C_DOM\\\"smith, jr\"*555,1\n"
                                       "105=N_DOM\\o\"neil,x?4\n"
                                       "106=H7_DOM\\bob?0?9:ipx:NB:1234567:"),
            plat::ERROR_SUCCESS);
  MainWindow w(&sink_);
  ASSERT_NO_FATAL_FAILURE(Open(w));
  LogView* view = ShowLog(w);
  ASSERT_NE(view, nullptr);
  ASSERT_EQ(view->model()->rowCount(), 8);
  EXPECT_EQ(view->RowTexts(2)[3], "");  // the unknown letter: its time, server and port
  EXPECT_EQ(view->RowTexts(2)[1], "SRV1");
  const QString csv = temp_.filePath("bad.csv");
  ASSERT_TRUE(view->SaveTo(csv));
  EXPECT_EQ(ReadBackCsv(csv), "8 12");
}

TEST_F(LogViewTest, UsageAndStatisticsViewsWithTheirCharts) {
  WriteDemoDay();
  MainWindow w(&sink_);
  ASSERT_NO_FATAL_FAILURE(Open(w));
  w.RunCommand(ID_VIEW_USAGE);
  auto* usage = qobject_cast<UsageView*>(w.container()->content());
  ASSERT_NE(usage, nullptr);
  EXPECT_EQ(w.container()->caption()->text(), "Usage");
  // The month is read off the window thread; the view fills when it is in.
  ASSERT_TRUE(QTest::qWaitFor([&] { return !usage->loading(); }, 20000));
  ASSERT_EQ(usage->usage().size(), 4u);  // those refused only have no usage
  EXPECT_EQ(usage->table()->topLevelItem(0)->text(0), "DOM\\ann");
  EXPECT_EQ(usage->table()->topLevelItem(0)->text(2), "4:30:00");
  EXPECT_EQ(usage->chart()->labels().size(), 4);
  ASSERT_NO_FATAL_FAILURE(Shot(w, "pladmin_usage.png"));
  const QString csv = temp_.filePath("usage.csv");
  ASSERT_TRUE(usage->SaveTo(csv));
  EXPECT_EQ(ReadBackCsv(csv), "4 5");

  w.RunCommand(ID_VIEW_STATISTICS);
  auto* stats = qobject_cast<StatisticsView*>(w.container()->content());
  ASSERT_NE(stats, nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !stats->loading(); }, 20000));
  EXPECT_EQ(stats->statistics().sessions, 5);
  EXPECT_EQ(stats->statistics().refusals, 4);
  EXPECT_EQ(stats->statistics().BusiestHour(), 9);  // two at 9 and at 12: the first
  EXPECT_EQ(stats->chart()->labels().size(), 24);
  ASSERT_NO_FATAL_FAILURE(Shot(w, "pladmin_statistics.png"));
  ASSERT_TRUE(stats->SaveTo(csv));
  EXPECT_EQ(ReadBackCsv(csv), "36 2");
  // The server's filter and the day commands reach the statistics.
  w.container()->tree()->Select("SRV1", {});
  QApplication::processEvents();
  stats = qobject_cast<StatisticsView*>(w.container()->content());
  ASSERT_NE(stats, nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !stats->loading(); }, 20000));
  EXPECT_EQ(stats->statistics().sessions, 3);
  w.RunCommand(ID_DAY_BACK);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !stats->loading(); }, 20000));
  EXPECT_EQ(stats->statistics().sessions, 0);
}

TEST_F(LogViewTest, CalendarMarksLoggedDaysAndTheExportCanBeCancelled) {
  for (const char* name : {"2026-Dec-24.log", "2027-Jan-02.log", "2026-Dec-25.log", "2026-Dec-26.log"}) {
    ASSERT_EQ(plat::WriteWholeFile(std::string("C:\\PLData\\LogData\\") + name,
                                   "[SRV1\\COM1]\n1798000000=C_DOM\\ann\n1798000001=N_DOM\\eve?1\n"),
              plat::ERROR_SUCCESS);
  }
  CalendarJumpDialog calendar("\\\\SRV1\\PL_NT_DB", QDate(2026, 12, 10), nullptr);
  EXPECT_TRUE(calendar.IsBold(QDate(2026, 12, 24)));
  EXPECT_TRUE(calendar.IsBold(QDate(2027, 1, 2)));  // January of the next year, in December's grid
  EXPECT_FALSE(calendar.IsBold(QDate(2026, 12, 10)));
  calendar.calendar()->setCurrentPage(2027, 2);
  EXPECT_TRUE(calendar.IsBold(QDate(2027, 1, 2)));
  EXPECT_FALSE(calendar.IsBold(QDate(2026, 12, 24)));

  ExportRequest request;
  request.dataFolder = "\\\\SRV1\\PL_NT_DB";
  request.from = plat::CalendarTime(2026, 12, 20, 12);
  request.to = plat::CalendarTime(2027, 1, 5, 12);
  request.filter.nodeKind = kNodeServersRoot;
  const QString path = temp_.filePath("export.csv");
  // Cancelled before the first day: no file is left.
  ExportResult result = RunSessionExport(nullptr, request, path, sink_, [](QProgressDialog* p) { p->cancel(); });
  EXPECT_TRUE(result.cancelled);
  EXPECT_FALSE(QFile::exists(path));
  result = RunSessionExport(nullptr, request, path, sink_);
  EXPECT_FALSE(result.cancelled);
  EXPECT_EQ(result.days, 17);
  EXPECT_EQ(result.rows, 8);
  EXPECT_EQ(ReadBackCsv(path), "8 12");
  EXPECT_TRUE(sink_.messages.empty());
}

}  // namespace
}  // namespace pladmin::ui
