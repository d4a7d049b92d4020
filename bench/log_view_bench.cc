// How long the console's log view takes to show a day: a day log of N
// records (hang-ups, connections and refusals on 16 ports of 2 servers, one
// of them in another time zone) is read, shifted, filtered, handed to the
// list's model and drawn once in a list on the offscreen platform with its
// columns sized to their contents, as a view's load and fill do.
// Then one sort by time, which a click on the heading adds.
//
//   log_view_bench [--records 10000,1000000] [--runs 3] [--keep]
//
// Prints, per size, the file's size and the best and worst of the runs for
// load (file to records), fill (records to a drawn list) and the sort. The
// network goes to $TMPDIR (or /tmp) and is removed unless --keep.
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QTreeView>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/log_record.h"
#include "console/core/log_filter.h"
#include "console/core/log_records.h"
#include "console/core/log_view_model.h"
#include "console/ui/log_view.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/machine.h"

namespace {

constexpr std::int64_t kDayStart = 1796000000;

std::string DayFile(int records) {
  std::string text;
  text.reserve(static_cast<size_t>(records) * 70);
  const int ports = 16;
  const int perPort = (records + ports - 1) / ports;
  int written = 0;
  for (int p = 0; p < ports && written < records; ++p) {
    text += "[SRV" + std::to_string(p % 2 + 1) + "\\COM" + std::to_string(p + 1) + "]\n";
    for (int i = 0; i < perPort && written < records; ++i, ++written) {
      const std::string account = "DOM\\user" + std::to_string(written % 5000);
      std::string value;
      switch (i % 3) {
        case 0: value = common::FormatConnectionRecord(account); break;
        case 1:
          value = common::FormatHangUpRecord(i % 7200, account, 167772160 + i, i % 10 == 1 ? 9 : 0,
                                             "", "PC" + std::to_string(i), 1000LL * i, 2000LL * i);
          break;
        default: value = common::FormatRefusalRecord(account, i % 6 + 1); break;
      }
      // Keys "<second>" and, past a day's seconds, "<second>.<n>" as the service spills them.
      const int second = i % 86400;
      std::string key = std::to_string(kDayStart + second);
      if (i >= 86400) key += "." + std::to_string(i / 86400);
      text += key + "=" + value + "\n";
    }
  }
  return text;
}

struct Times {
  double load = 0, fill = 0, sort = 0;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> sizes = {10000, 1000000};
  int runs = 3;
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--records") && i + 1 < argc) {
      sizes.clear();
      for (const char* p = argv[++i]; *p;) {
        sizes.push_back(std::atoi(p));
        while (*p && *p != ',') ++p;
        if (*p) ++p;
      }
    } else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (!std::strcmp(argv[i], "--keep")) {
      keep = true;
    } else {
      std::fprintf(stderr, "usage: log_view_bench [--records N,...] [--runs N] [--keep]\n");
      return 2;
    }
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  const char* tmp = std::getenv("TMPDIR");
  std::string network = std::string(tmp && *tmp ? tmp : "/tmp") + "/log-view-bench-XXXXXX";
  if (!::mkdtemp(network.data())) return 1;
  ::setenv("PORTULON_NETWORK", network.c_str(), 1);
  plat::MachineConfig config;
  config.name = "ADMINPC";
  if (plat::ProvisionMachine(network + "/ADMINPC", config) != plat::ERROR_SUCCESS) return 1;
  plat::SetCurrentMachineRoot(network + "/ADMINPC");
  plat::CreateDirectory("C:\\PLData");
  plat::CreateDirectory("C:\\PLData\\LogData");

  std::printf("log view: load (file to records) and fill (records to a drawn list), best/worst of %d runs\n", runs);
  int rc = 0;
  for (const int records : sizes) {
    const std::string file = "C:\\PLData\\LogData\\bench-" + std::to_string(records) + ".log";
    const std::string text = DayFile(records);
    if (plat::WriteWholeFile(file, text) != plat::ERROR_SUCCESS) return 1;
    Times best{1e9, 1e9, 1e9}, worst;
    size_t shown = 0;
    for (int run = 0; run < runs; ++run) {
      pladmin::CLogRecords day;
      QElapsedTimer clock;
      clock.start();
      day.LoadLogRecords(file, 0, {{"SRV2", -60}});
      const double load = static_cast<double>(clock.nsecsElapsed()) / 1e6;

      clock.restart();
      QTreeView list;
      list.setUniformRowHeights(true);
      list.setRootIsDecorated(false);
      list.resize(1100, 600);
      pladmin::ui::LogTableModel model(nullptr);
      list.setModel(&model);
      pladmin::LogFilter all;
      model.Reset(&day.records(), pladmin::FilterRows(day.records(), all, nullptr),
                  pladmin::DisplayedFlags(-1), {});
      for (int c = 0; c < model.columnCount(); ++c) list.resizeColumnToContents(c);
      list.grab();
      const double fill = static_cast<double>(clock.nsecsElapsed()) / 1e6;

      clock.restart();
      pladmin::SortLogRows(&model.rows(), day.records(), pladmin::kColTime, 1);
      model.RowsReordered();
      const double sort = static_cast<double>(clock.nsecsElapsed()) / 1e6;
      shown = static_cast<size_t>(model.rowCount());
      best = {std::min(best.load, load), std::min(best.fill, fill), std::min(best.sort, sort)};
      worst = {std::max(worst.load, load), std::max(worst.fill, fill), std::max(worst.sort, sort)};
    }
    if (shown != static_cast<size_t>(records)) {
      std::printf("  %d records: only %zu shown\n", records, shown);
      rc = 1;
    }
    std::printf("  %9d records (%6.1f MB): load %8.1f / %8.1f ms, fill %7.1f / %7.1f ms, "
                "load+fill %8.1f ms, sort by time %7.1f ms\n",
                records, static_cast<double>(text.size()) / 1e6, best.load, worst.load, best.fill,
                worst.fill, best.load + best.fill, best.sort);
  }
  if (!keep) std::filesystem::remove_all(network);
  return rc;
}
