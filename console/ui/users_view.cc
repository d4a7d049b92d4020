#include "console/ui/users_view.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QVBoxLayout>
#include <iterator>

#include "common/expiry_date.h"
#include "common/profile_helpers.h"
#include "console/core/pladmin_doc.h"
#include "console/ui/account_dialogs.h"
#include "console/ui/csv_save.h"
#include "console/ui/profile_dialog.h"
#include "console/ui/settings_dialog.h"
#include "platform/text.h"
#include "platform/tools/tool_format.h"

namespace pladmin::ui {

namespace {

// The value columns: the limits, then the usage.
const accounts::SettingInfo& ColumnInfo(int column) {
  const auto limits = accounts::ProfileSettings();
  const auto usage = accounts::UsageValues();
  const size_t i = static_cast<size_t>(column - 1);
  return i < limits.size() ? limits[i] : usage[i - limits.size()];
}

const char* const kHeadings[] = {"Account",   "Max session", "Max total", "Expires",     "Last day",    "Period",
                                 "Allowance", "One at a time", "At once", "Static address", "Connects", "Refused",
                                 "Total time", "Period use", "Period began", "First connection",
                                 "Last connection", "Lasted"};

qint64 DateOrder(const std::string& value) {
  const common::ExpiryDateValue date = common::ReadExpiryDate(value);
  if (date.kind == common::ExpiryDateValue::kNone) return 99999999;
  if (date.kind == common::ExpiryDateValue::kMalformed) return 0;  // counted as expired
  return date.date.year * 10000LL + date.date.month * 100 + date.date.day;
}

}  // namespace

void UsersModel::Reset(std::vector<accounts::Account> accounts) {
  beginResetModel();
  accounts_ = std::move(accounts);
  numbers_.resize(accounts_.size());
  for (size_t r = 0; r < accounts_.size(); ++r) {
    const auto& values = accounts_[r].values;
    numbers_[r].fill(0);
    for (const auto& [key, value] : values) {
      for (int c = 0; c < kValueColumns; ++c) {
        if (plat::EqualsIgnoringCase(key, ColumnInfo(c + 1).key)) {
          // Unsigned, as the service compares them; addresses by their octets.
          numbers_[r][static_cast<size_t>(c)] = static_cast<quint32>(common::DecimalValue(value));
          // Dates by their day (yyyymmdd); no date after every date.
          if (ColumnInfo(c + 1).unit == accounts::Unit::Date) numbers_[r][static_cast<size_t>(c)] = DateOrder(value);
          break;
        }
      }
    }
  }
  endResetModel();
}

int UsersModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(accounts_.size());
}

int UsersModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kValueColumns + 1; }

QVariant UsersModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const accounts::Account& a = accounts_[static_cast<size_t>(index.row())];
  const int c = index.column();
  if (role == Qt::DisplayRole) {
    if (c == 0) return QString::fromStdString(a.section);
    const accounts::SettingInfo& info = ColumnInfo(c);
    if (a.IsGroup() && !info.groupKey) return QString();
    return QString::fromStdString(AccountValueText(info.unit, a.Text(info.key, info.defaultText), clock_));
  }
  if (role == Qt::UserRole) {
    if (c == 0) return QString::fromStdString(a.section).toLower();
    return numbers_[static_cast<size_t>(index.row())][static_cast<size_t>(c - 1)];
  }
  if (role == Qt::TextAlignmentRole && c > 0) return int(Qt::AlignRight | Qt::AlignVCenter);
  return {};
}

QVariant UsersModel::headerData(int section, Qt::Orientation orientation, int role) const {
  static_assert(std::size(kHeadings) == kValueColumns + 1, "a heading for every column");
  if (orientation != Qt::Horizontal || section < 0 || section > kValueColumns) return {};
  if (role == Qt::DisplayRole) return QString(kHeadings[section]);
  if (role == Qt::ToolTipRole && section > 0) return QString(ColumnInfo(section).key);
  return {};
}

void UsersFilter::SetDomain(const QString& domain) {
  domain_ = domain;
  invalidateFilter();
}

void UsersFilter::SetSection(const QString& section) {
  section_ = section;
  invalidateFilter();
}

void UsersFilter::SetText(const QString& text) {
  text_ = text;
  invalidateFilter();
}

bool UsersFilter::filterAcceptsRow(int row, const QModelIndex&) const {
  const accounts::AccountFilter filter{section_.toStdString(), domain_.toStdString(), text_.toStdString()};
  return filter.Matches(static_cast<const UsersModel*>(sourceModel())->At(row));
}

UsersView::UsersView(CPladminDoc& doc, QWidget* parent) : ContentViewBase(doc, ContentView::Users, parent) {
  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  heading_ = new QLabel(this);
  top->addWidget(heading_, 1);
  search_ = new QLineEdit(this);
  search_->setPlaceholderText(tr("Search accounts"));
  search_->setClearButtonEnabled(true);
  top->addWidget(search_);
  layout->addLayout(top);

  auto* buttons = new QHBoxLayout;
  auto button = [&](const QString& text, void (UsersView::*slot)()) {
    auto* b = new QPushButton(text, this);
    connect(b, &QPushButton::clicked, this, slot);
    buttons->addWidget(b);
    return b;
  };
  button(tr("&New..."), &UsersView::NewProfile);
  properties_ = button(tr("&Properties..."), &UsersView::OpenProperties);
  copy_ = button(tr("&Copy Profile..."), &UsersView::CopyProfile);
  reset_ = button(tr("&Reset Usage"), &UsersView::ResetUsage);
  delete_ = button(tr("&Delete"), &UsersView::DeleteProfiles);
  message_ = button(tr("Send &Message..."), &UsersView::SendMessage);
  button(tr("De&fault Profile..."), &UsersView::DefaultProfile);
  buttons->addStretch(1);
  layout->addLayout(buttons);

  problems_ = new QLabel(this);
  problems_->setWordWrap(true);
  problems_->setStyleSheet("color: #b00020;");
  problems_->hide();
  layout->addWidget(problems_);

  model_ = new UsersModel(this);
  filter_ = new UsersFilter(this);
  filter_->setSourceModel(model_);
  filter_->setSortRole(Qt::UserRole);
  table_ = new QTableView(this);
  table_->setModel(filter_);
  table_->setSortingEnabled(true);
  table_->sortByColumn(0, Qt::AscendingOrder);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setAlternatingRowColors(true);
  table_->verticalHeader()->hide();
  // Fixed row heights and no size-to-contents: 10,000 rows fill at once.
  table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
  table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  FitColumnsToHeadings(table_->horizontalHeader(), 96);
  table_->setColumnWidth(0, 170);
  layout->addWidget(table_, 1);

  connect(search_, &QLineEdit::textChanged, filter_, &UsersFilter::SetText);
  connect(table_, &QTableView::doubleClicked, this, [this] { OpenProperties(); });
  connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { UpdateButtons(); });
  UpdateButtons();
}

void UsersView::OnUpdate(int hint, int) {
  if (hint == kHintSaveData) {
    Save();
    return;
  }
  if (hint != kHintNone && hint != kHintAccounts && hint != kHintSelection) return;
  // A domain of the tree shows its accounts; a group, its group profile.
  const Selection& sel = doc_.selection();
  filter_->SetDomain(sel.nodeKind == kNodeDomain ? QString::fromStdString(sel.domain) : QString());
  filter_->SetSection(sel.nodeKind == kNodeGroup ? QString::fromStdString("+" + sel.domain + "\\" + sel.group)
                                                 : QString());
  if (doc_.reloadUsers() || !store_) {
    Load();
    doc_.ClearReloadUsers();
  }
  if (sel.nodeKind == kNodeUser && store_) SelectAccount(QString::fromStdString(sel.domain + "\\" + sel.user));
  if (sel.nodeKind == kNodeDefaultProfile && store_) {
    // What accounts without a profile get, in words.
    QStringList words;
    for (const auto& [key, value] : store_->NewProfile("DOMAIN\\user").values) {
      const accounts::SettingInfo* info = accounts::FindSetting(accounts::ProfileSettings(), key);
      if (info) words << QString("%1: %2").arg(info->label, QString::fromStdString(accounts::FormatValue(info->unit, value)));
    }
    heading_->setText(tr("Default profile (Default Profile... to change it): %1").arg(words.join(", ")));
  }
}

bool UsersView::Load() {
  const CServerList& servers = doc_.servers();
  if (!servers.masterKnown()) {
    heading_->setText(tr("Waiting for the master server"));
    model_->Reset({});
    store_.reset();
    return false;
  }
  store_ = std::make_unique<accounts::AccountStore>(servers.profilePath(), servers.systemDataPath());
  accounts::LoadResult loaded = store_->Load();
  QStringList problems;
  if (!loaded.fileProblem.empty()) problems << QString::fromStdString(loaded.fileProblem);
  for (size_t i = 0; i < loaded.valueProblems.size() && i < 5; ++i) {
    problems << QString::fromStdString(loaded.valueProblems[i]);
  }
  if (loaded.valueProblems.size() > 5) problems << tr("... and %1 more").arg(loaded.valueProblems.size() - 5);
  problems_->setText(problems.join("\n"));
  problems_->setVisible(!problems.isEmpty());
  const int count = static_cast<int>(loaded.accounts.size());
  model_->Reset(std::move(loaded.accounts));
  heading_->setText(loaded.fileMissing ? tr("No profiles yet (%1 does not exist)").arg(QString::fromStdString(servers.profilePath()))
                                       : tr("%1 profiles in %2").arg(count).arg(QString::fromStdString(servers.profilePath())));
  UpdateButtons();
  return true;
}

std::vector<std::string> UsersView::SelectedAccounts() const {
  std::vector<std::string> out;
  QModelIndexList rows = table_->selectionModel()->selectedRows();
  std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  for (const QModelIndex& index : rows) out.push_back(model_->At(filter_->mapToSource(index).row()).section);
  return out;
}

bool UsersView::SelectAccount(const QString& section) {
  for (int r = 0; r < filter_->rowCount(); ++r) {
    const QModelIndex index = filter_->index(r, 0);
    if (index.data().toString().compare(section, Qt::CaseInsensitive) == 0) {
      table_->selectRow(r);
      return true;
    }
  }
  return false;
}

void UsersView::UpdateButtons() {
  const size_t n = table_->selectionModel() ? SelectedAccounts().size() : 0;
  properties_->setEnabled(n == 1);
  copy_->setEnabled(n == 1);
  reset_->setEnabled(n >= 1);
  delete_->setEnabled(n >= 1);
  message_->setEnabled(n <= 1);
}

void UsersView::OpenProperties() {
  const std::vector<std::string> selected = SelectedAccounts();
  if (!store_ || selected.size() != 1) return;
  std::optional<accounts::Account> account = store_->Find(selected[0]);
  if (!account) {
    doc_.sink().Message("The profile " + selected[0] + " is gone (deleted meanwhile?)", MessageIcon::Warning);
    Load();
    return;
  }
  ProfileDialog dialog(*store_, std::move(account), this);
  if (dialog.exec() == QDialog::Accepted) Load();
}

void UsersView::NewProfile() {
  if (!store_) return;
  ProfileDialog dialog(*store_, std::nullopt, this);
  if (dialog.exec() == QDialog::Accepted) {
    const QString name = dialog.nameEdit()->text().trimmed();
    Load();
    SelectAccount(name);
  }
}

void UsersView::CopyProfile() {
  const std::vector<std::string> selected = SelectedAccounts();
  if (!store_ || selected.size() != 1) return;
  std::vector<std::string> all;
  for (const auto& a : model_->accounts()) all.push_back(a.section);
  CopyProfileDialog dialog(*store_, selected[0], all, this);
  if (dialog.exec() == QDialog::Accepted) Load();
}

void UsersView::ResetUsage() {
  const std::vector<std::string> selected = SelectedAccounts();
  if (!store_ || selected.empty()) return;
  const std::string who = selected.size() == 1 ? selected[0] : std::to_string(selected.size()) + " accounts";
  if (!doc_.sink().Ask("Reset the usage of " + who + " to 0 (connections, times, period)?", "Reset Usage")) return;
  if (const accounts::Outcome o = store_->ResetUsage(selected); !o.ok()) {
    doc_.sink().Message(o.message, MessageIcon::Stop);
  }
  Load();
}

void UsersView::DeleteProfiles() {
  const std::vector<std::string> selected = SelectedAccounts();
  if (!store_ || selected.empty()) return;
  const std::string who = selected.size() == 1 ? selected[0] : std::to_string(selected.size()) + " profiles";
  if (!doc_.sink().Ask("Delete the profile of " + who + "?", "Delete Profile")) return;
  if (const accounts::Outcome o = store_->Delete(selected); !o.ok()) {
    doc_.sink().Message(o.message, MessageIcon::Stop);
  }
  Load();
}

bool UsersView::SaveTo(const QString& path) {
  std::string text;
  std::vector<std::string> fields;
  for (int c = 0; c < filter_->columnCount(); ++c) {
    fields.push_back(filter_->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString().toStdString());
  }
  text += pltools::CsvLine(fields) + "\r\n";
  for (int r = 0; r < filter_->rowCount(); ++r) {
    fields.clear();
    for (int c = 0; c < filter_->columnCount(); ++c) {
      fields.push_back(filter_->index(r, c).data(Qt::DisplayRole).toString().toStdString());
    }
    text += pltools::CsvLine(fields) + "\r\n";
  }
  return WriteTextFile(path, text, doc_.sink());
}

void UsersView::Save() {
  const QString path = AskCsvPath(this, tr("Save Users to File"));
  if (!path.isEmpty()) SaveTo(path);
}

void UsersView::SendMessage() {
  const std::vector<std::string> selected = SelectedAccounts();
  MessageDialog dialog(selected.size() == 1 ? QString::fromStdString(selected[0]) : QString(), this);
  dialog.exec();
}

void UsersView::DefaultProfile() {
  if (!store_) return;
  const CServerList& servers = doc_.servers();
  std::vector<std::string> notify;
  for (int i = 0; i < servers.size(); ++i) notify.push_back(servers.At(i).name);
  SettingsDialog dialog(tr("Default Profile"), accounts::SystemSettings(), {"Default Profile"},
                        {servers.masterName(), servers.masterShare(), {}}, notify, doc_.sink(), this);
  if (!dialog.Load()) return;
  dialog.exec();
  emit SettingsSaved(dialog.serversToNotify());
}

}  // namespace pladmin::ui
