// The users view: every profile of the master's portulon.usr (users and
// groups) with its limits and usage in words, sortable by any column and
// searchable; from it the property pages, a new profile, copy profile,
// reset usage, delete, a message to the user and the default profile.
#pragma once

#include <QAbstractTableModel>
#include <QLineEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <array>
#include <memory>
#include <vector>

#include "accounts/account_store.h"
#include "console/core/display_text.h"
#include "console/core/time_format.h"
#include "console/ui/content_views.h"

namespace pladmin::ui {

// The profiles as a table: column 0 the account, then the limits, then the
// usage. Display texts are made when shown; sorting uses numbers.
class UsersModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit UsersModel(QObject* parent) : QAbstractTableModel(parent) {}
  void Reset(std::vector<accounts::Account> accounts);
  const accounts::Account& At(int row) const { return accounts_[static_cast<size_t>(row)]; }
  const std::vector<accounts::Account>& accounts() const { return accounts_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  static constexpr int kValueColumns = 17;
  std::vector<accounts::Account> accounts_;
  TimeFormat clock_ = TimeFormat::OfMachine();  // of the times of day shown
  std::vector<std::array<qint64, kValueColumns>> numbers_;  // sort keys of the value columns
};

// Keeps the rows of one domain (empty: all) whose account contains a text.
class UsersFilter : public QSortFilterProxyModel {
  Q_OBJECT
 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;
  void SetDomain(const QString& domain);
  // Only this section (a group profile's); empty: no such limit.
  void SetSection(const QString& section);
  void SetText(const QString& text);

 protected:
  bool filterAcceptsRow(int row, const QModelIndex& parent) const override;

 private:
  QString domain_, section_, text_;
};

class UsersView : public ContentViewBase {
  Q_OBJECT
 public:
  UsersView(CPladminDoc& doc, QWidget* parent);
  void OnUpdate(int hint, int serverIndex) override;

  // Reads portulon.usr and fills the table; false when there is no master yet.
  bool Load();
  QTableView* table() const { return table_; }
  UsersModel* model() const { return model_; }
  UsersFilter* filter() const { return filter_; }
  QLineEdit* search() const { return search_; }
  QLabel* problems() const { return problems_; }
  // The store of the master's files (none while the master is not known).
  const accounts::AccountStore* store() const { return store_.get(); }
  // The accounts of the selected rows, in table order.
  std::vector<std::string> SelectedAccounts() const;
  // Selects the row of an account; false when it is not shown.
  bool SelectAccount(const QString& section);

  // Writes the rows shown (after the search and the tree's filter) as CSV
  // with the column headings; false (and the message) when it cannot.
  bool SaveTo(const QString& path);

  // The buttons' work on the selected rows; reset and delete ask first.
  void ResetUsage();
  void DeleteProfiles();

 private:
  void OpenProperties();
  void NewProfile();
  void CopyProfile();
  void SendMessage();
  void DefaultProfile();
  void UpdateButtons();
  void Save();

  std::unique_ptr<accounts::AccountStore> store_;
  QLabel* heading_;
  QLineEdit* search_;
  QLabel* problems_;
  QTableView* table_;
  UsersModel* model_;
  UsersFilter* filter_;
  QPushButton *properties_, *copy_, *reset_, *delete_, *message_;
};

}  // namespace pladmin::ui
