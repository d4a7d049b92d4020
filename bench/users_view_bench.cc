// How long the console's users view takes to load portulon.usr and fill
// its table, for 10,000 users (or --users N).
//
// A machine with a users file of N profiles as the service leaves them
// (limits, a static address for some, every usage value in its fixed
// width). Each run: the account model reads the file, the table model is
// reset with the profiles, the sorting proxy sorts them by account, and the
// table view on the offscreen platform paints its first screen.
//
//   users_view_bench [--users 10000] [--runs 10] [--keep]
//
// Prints the minimum, median and maximum of the runs, and of the reading
// alone. The machine goes to $TMPDIR (or /tmp) and is removed unless --keep.
#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "accounts/account_store.h"
#include "common/profile_keys.h"
#include "console/ui/users_view.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/machine.h"
#include "platform/profile.h"

namespace {

constexpr const char* kUsers = "C:\\PLData\\portulon.usr";

bool Populate(int users) {
  if (plat::CreateDirectory("C:\\PLData") != plat::ERROR_SUCCESS) return false;
  std::vector<plat::ProfileChange> changes;
  changes.reserve(static_cast<size_t>(users) * 16);
  for (int i = 0; i < users; ++i) {
    const std::string s = "DOM\\user" + std::to_string(i);
    changes.push_back({s, common::kMaxSessionTime, std::to_string(3600 + i % 7 * 600)});
    changes.push_back({s, common::kMaxTotalTime, std::to_string(i % 3 * 360000)});
    changes.push_back({s, common::kExpiryTime, std::to_string(i % 5 * 30)});
    changes.push_back({s, common::kPeriodType, std::to_string(i % 4)});
    changes.push_back({s, common::kPeriodMax, std::to_string(i % 4 * 7200)});
    changes.push_back({s, common::kNoDuplicate, i % 2 ? "1" : "0"});
    if (i % 10 == 0) changes.push_back({s, common::kStaticIP, std::to_string(167772160 + i)});
    for (const char* key : {common::kTotalConnects, common::kTotalDenieds, common::kTotalTime, common::kPeriodUsage,
                            common::kPeriodStamp, common::kFirstConnection, common::kLastConnection, common::kLasted}) {
      changes.push_back({s, key, common::UsageText(static_cast<plat::DWORD>(1700000000 + i))});
    }
  }
  return plat::ProfileApply(kUsers, changes) == plat::ERROR_SUCCESS;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int users = 10000, runs = 10;
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--users") && i + 1 < argc) users = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) runs = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--keep")) keep = true;
    else {
      std::fprintf(stderr, "usage: users_view_bench [--users N] [--runs N] [--keep]\n");
      return 2;
    }
  }
  if (users < 1 || runs < 1) return 2;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const char* tmp = std::getenv("TMPDIR");
  std::string network = std::string(tmp && *tmp ? tmp : "/tmp") + "/users_bench_XXXXXX";
  if (!mkdtemp(network.data())) return 1;
  setenv("PORTULON_NETWORK", network.c_str(), 1);
  plat::MachineConfig config;
  config.name = "SRV1";
  int status = 0;
  if (plat::ProvisionMachine(network + "/SRV1", config) != plat::ERROR_SUCCESS) {
    std::fprintf(stderr, "users_view_bench: cannot provision a machine in %s\n", network.c_str());
    status = 1;
  } else {
    plat::SetCurrentMachineRoot(network + "/SRV1");
    if (!Populate(users)) {
      std::fprintf(stderr, "users_view_bench: cannot write %s\n", kUsers);
      status = 1;
    } else {
      QApplication app(argc, argv);
      std::printf("users_view_bench: %d profiles, %d runs (load portulon.usr, fill the table, sort, first paint)\n",
                  users, runs);
      const accounts::AccountStore store(kUsers, "C:\\PLData\\portulon.hw");
      std::vector<double> total, reading;
      for (int r = 0; r < runs; ++r) {
        QTableView table;
        auto* model = new pladmin::ui::UsersModel(&table);
        auto* filter = new pladmin::ui::UsersFilter(&table);
        filter->setSourceModel(model);
        filter->setSortRole(Qt::UserRole);
        table.setModel(filter);
        table.setSortingEnabled(true);
        table.resize(1000, 600);
        table.show();
        QApplication::processEvents();
        // Changed by another process each run, as when the service wrote it:
        // this process's parse cache cannot help.
        if (const pid_t child = fork(); child == 0) {
          _exit(plat::ProfileWriteString(kUsers, "DOM\\user0", common::kMaxSessionTime, std::to_string(3600 + r)));
        } else if (child > 0) {
          waitpid(child, nullptr, 0);
        }
        QElapsedTimer clock;
        clock.start();
        accounts::LoadResult loaded = store.Load();
        reading.push_back(clock.nsecsElapsed() / 1e6);
        if (static_cast<int>(loaded.accounts.size()) != users) {
          std::fprintf(stderr, "users_view_bench: read %zu profiles\n", loaded.accounts.size());
          status = 1;
          break;
        }
        model->Reset(std::move(loaded.accounts));
        table.sortByColumn(0, Qt::AscendingOrder);
        table.repaint();
        QApplication::processEvents();
        total.push_back(clock.nsecsElapsed() / 1e6);
      }
      if (status == 0) {
        std::printf("load and fill: min %.1f ms, median %.1f ms, max %.1f ms\n",
                    *std::min_element(total.begin(), total.end()), Median(total),
                    *std::max_element(total.begin(), total.end()));
        std::printf("reading alone: median %.1f ms\n", Median(reading));
      }
    }
  }
  if (!keep) std::filesystem::remove_all(network);
  else std::printf("machine kept in %s\n", network.c_str());
  return status;
}
