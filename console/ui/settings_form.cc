#include "console/ui/settings_form.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QFormLayout>
#include <QGridLayout>
#include <QLineEdit>
#include <QSpinBox>

#include "common/expiry_date.h"
#include "common/profile_helpers.h"
#include "platform/text.h"

namespace pladmin::ui {

namespace {

const char* const kPeriods[] = {"none", "day", "week", "month"};

bool IsSet(accounts::Unit unit) { return accounts::MembersOf(unit).count > 0; }

// A check box per member of a set (hours, weekdays, days of the month),
// twelve to a row; the boxes are the editor's children in member order.
class SetEditor : public QWidget {
 public:
  SetEditor(accounts::Unit unit, QWidget* parent) : QWidget(parent), unit_(unit) {
    const accounts::SetMembers m = accounts::MembersOf(unit);
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    for (int i = 0; i < m.count; ++i) {
      const QString name = m.names ? QString::fromUtf8(m.names[i]) : QString::number(i + m.first);
      auto* box = new QCheckBox(name, this);
      box->setObjectName(name);
      boxes_.push_back(box);
      grid->addWidget(box, i / 12, i % 12);
    }
  }
  std::uint32_t bits() const {
    std::uint32_t b = 0;
    for (size_t i = 0; i < boxes_.size(); ++i) {
      if (boxes_[i]->isChecked()) b |= 1u << i;
    }
    return b;
  }
  void setBits(std::uint32_t b) {
    for (size_t i = 0; i < boxes_.size(); ++i) boxes_[i]->setChecked(b & (1u << i));
  }
  // The boxes for what an administrator typed ("2,18"); false when it is no set.
  bool setTyped(const QString& text) {
    const auto file = accounts::ParseValue(unit_, text.toStdString(), nullptr);
    if (!file) return false;
    setBits(static_cast<std::uint32_t>(common::DecimalValue(*file)));
    return true;
  }
  QString typed() const { return QString::fromStdString(accounts::FormatSet(unit_, bits())); }

 private:
  accounts::Unit unit_;
  std::vector<QCheckBox*> boxes_;
};

// Sessions at once: a spin box whose 0 reads "none" (no number set).
QSpinBox* NewSessionsBox(QWidget* parent) {
  auto* spin = new QSpinBox(parent);
  spin->setRange(0, static_cast<int>(accounts::kMaxSessionsAtOnce));
  spin->setSpecialValueText(QString::fromStdString(accounts::FormatValue(accounts::Unit::Sessions, "0")));
  return spin;
}

QString SessionsTyped(const QSpinBox* spin) {
  return QString::fromStdString(accounts::FormatValue(accounts::Unit::Sessions, std::to_string(spin->value())));
}

// The spin box at what the file holds or what was typed; false when it is no number of sessions.
bool SetSessions(QSpinBox* spin, const std::string& text, bool fileText) {
  const auto file = fileText ? std::optional<std::string>(text)
                             : accounts::ParseValue(accounts::Unit::Sessions, text, nullptr);
  if (!file || !accounts::IsCleanNumber(*file)) return false;
  spin->setValue(common::DecimalValue(*file));
  return true;
}
// A calendar date picked from a calendar, or "no date" ticked: typed as
// "2027-01-31" or "none".
class DateEditor : public QWidget {
 public:
  explicit DateEditor(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    date_ = new QDateEdit(this);
    date_->setObjectName("date");
    date_->setCalendarPopup(true);
    date_->setDisplayFormat("yyyy-MM-dd");
    date_->setMinimumDate(QDate(1970, 1, 1));
    date_->setDate(QDate::currentDate());
    none_ = new QCheckBox(QObject::tr("no date"), this);
    none_->setObjectName("none");
    row->addWidget(date_);
    row->addWidget(none_);
    row->addStretch(1);
    QObject::connect(none_, &QCheckBox::toggled, date_, &QWidget::setDisabled);
  }
  QDateEdit* date() const { return date_; }
  QCheckBox* none() const { return none_; }
  // A text ParseValue does not take stays as typed, so that saving names it.
  void setTyped(const QString& text) {
    const std::string t = text.trimmed().toStdString();
    const common::ExpiryDateValue v = common::ReadExpiryDate(t == "none" ? "" : t);
    unreadable_.clear();
    none_->setChecked(v.kind == common::ExpiryDateValue::kNone);
    if (v.kind == common::ExpiryDateValue::kDate) {
      date_->setDate(QDate(v.date.year, v.date.month, v.date.day));
    } else if (v.kind == common::ExpiryDateValue::kMalformed) {
      unreadable_ = text;
    }
    date_->setDisabled(none_->isChecked());  // also when the caller blocks the box's signals
  }
  QString typed() const {
    if (none_->isChecked()) return "none";
    if (!unreadable_.isEmpty()) return unreadable_;
    return date_->date().toString("yyyy-MM-dd");
  }
  void forgetUnreadable() { unreadable_.clear(); }

 private:
  QDateEdit* date_;
  QCheckBox* none_;
  QString unreadable_;  // the file's text when it is no date
};

}  // namespace

SettingsForm::SettingsForm(std::vector<const accounts::SettingInfo*> settings, QWidget* parent, bool readOnly)
    : QWidget(parent), readOnly_(readOnly) {
  auto* layout = new QFormLayout(this);
  layout->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
  for (const accounts::SettingInfo* info : settings) {
    QWidget* editor = nullptr;
    if (readOnly) {
      editor = new QLabel(this);
      static_cast<QLabel*>(editor)->setTextInteractionFlags(Qt::TextSelectableByMouse);
    } else if (info->unit == accounts::Unit::Flag) {
      auto* box = new QCheckBox(this);
      connect(box, &QCheckBox::toggled, this, &SettingsForm::Edited);
      editor = box;
    } else if (IsSet(info->unit)) {
      auto* set = new SetEditor(info->unit, this);
      for (QCheckBox* box : set->findChildren<QCheckBox*>()) {
        connect(box, &QCheckBox::toggled, this, &SettingsForm::Edited);
      }
      editor = set;
    } else if (info->unit == accounts::Unit::Sessions) {
      auto* spin = NewSessionsBox(this);
      connect(spin, &QSpinBox::valueChanged, this, &SettingsForm::Edited);
      editor = spin;
    } else if (info->unit == accounts::Unit::Date) {
      auto* date = new DateEditor(this);
      connect(date->none(), &QCheckBox::toggled, this, [this, date] {
        date->forgetUnreadable();
        emit Edited();
      });
      connect(date->date(), &QDateEdit::dateChanged, this, [this, date] {
        date->forgetUnreadable();
        emit Edited();
      });
      editor = date;
    } else if (info->unit == accounts::Unit::PeriodType) {
      auto* combo = new QComboBox(this);
      for (const char* p : kPeriods) combo->addItem(p);
      connect(combo, &QComboBox::currentTextChanged, this, &SettingsForm::Edited);
      editor = combo;
    } else {
      auto* edit = new QLineEdit(this);
      if (info->maxLength) edit->setMaxLength(static_cast<int>(info->maxLength) + 1);  // refused, not cut
      edit->setPlaceholderText(info->unit == accounts::Unit::Seconds   ? "1h30m, 90m, none"
                               : info->unit == accounts::Unit::Days    ? "90d, never"
                               : info->unit == accounts::Unit::Address ? "10.0.0.77, none"
                               : info->unit == accounts::Unit::Minutes ? "15m, none"
                                                                       : "");
      connect(edit, &QLineEdit::textEdited, this, &SettingsForm::Edited);
      editor = edit;
    }
    editor->setObjectName(QString::fromUtf8(info->name));
    layout->addRow(QString::fromUtf8(info->label) + ":", editor);
    rows_.push_back({info, editor});
  }
}

void SettingsForm::SetValues(const std::vector<std::pair<std::string, std::string>>& fileTexts) {
  for (Row& row : rows_) {
    std::string text = row.info->defaultText;
    for (const auto& [name, value] : fileTexts) {
      if (plat::EqualsIgnoringCase(name, row.info->name)) text = value;
    }
    const QString shown = QString::fromStdString(accounts::FormatValue(row.info->unit, text));
    row.editor->setToolTip(QString::fromUtf8(row.info->key) + "=" + QString::fromStdString(text) + "  (" +
                           accounts::EffectText(row.info->effect) + ")");
    if (auto* label = qobject_cast<QLabel*>(row.editor)) {
      label->setText(shown);
    } else if (row.info->unit == accounts::Unit::Date) {
      auto* date = static_cast<DateEditor*>(row.editor);
      const QSignalBlocker blockDate(date->date()), blockNone(date->none());
      date->setTyped(shown);
    } else if (IsSet(row.info->unit)) {
      static_cast<SetEditor*>(row.editor)
          ->setBits(accounts::IsCleanNumber(text) ? static_cast<std::uint32_t>(common::DecimalValue(text)) : 0);
    } else if (auto* spin = qobject_cast<QSpinBox*>(row.editor)) {
      // A value the file should not hold shows as none; its tool tip has it.
      if (!SetSessions(spin, text, true)) spin->setValue(0);
    } else if (auto* box = qobject_cast<QCheckBox*>(row.editor)) {
      box->setChecked(shown == "yes");
    } else if (auto* combo = qobject_cast<QComboBox*>(row.editor)) {
      if (combo->findText(shown) < 0) combo->addItem(shown);  // a value the file should not hold
      combo->setCurrentText(shown);
    } else if (auto* edit = qobject_cast<QLineEdit*>(row.editor)) {
      edit->setText(shown);
    }
  }
}

std::vector<std::pair<std::string, std::string>> SettingsForm::Typed() const {
  std::vector<std::pair<std::string, std::string>> out;
  if (readOnly_) return out;
  for (const Row& row : rows_) {
    QString text;
    if (row.info->unit == accounts::Unit::Date) {
      text = static_cast<const DateEditor*>(row.editor)->typed();
    } else if (IsSet(row.info->unit)) {
      text = static_cast<const SetEditor*>(row.editor)->typed();
    } else if (auto* spin = qobject_cast<QSpinBox*>(row.editor)) {
      text = SessionsTyped(spin);
    } else if (auto* box = qobject_cast<QCheckBox*>(row.editor)) {
      text = box->isChecked() ? "yes" : "no";
    } else if (auto* combo = qobject_cast<QComboBox*>(row.editor)) {
      text = combo->currentText();
    } else if (auto* edit = qobject_cast<QLineEdit*>(row.editor)) {
      text = edit->text();
    }
    out.emplace_back(row.info->name, text.toStdString());
  }
  return out;
}

bool SettingsForm::SetTyped(const std::string& name, const QString& text) {
  QWidget* editor = field(name);
  for (const Row& row : rows_) {
    if (row.editor == editor && IsSet(row.info->unit) && !readOnly_) {
      return static_cast<SetEditor*>(editor)->setTyped(text);
    }
    if (row.editor == editor && row.info->unit == accounts::Unit::Date && !readOnly_) {
      static_cast<DateEditor*>(editor)->setTyped(text);
      return true;
    }
  }
  if (auto* spin = qobject_cast<QSpinBox*>(editor)) {
    return SetSessions(spin, text.toStdString(), false);
  } else if (auto* box = qobject_cast<QCheckBox*>(editor)) {
    box->setChecked(text == "yes");
  } else if (auto* combo = qobject_cast<QComboBox*>(editor)) {
    combo->setCurrentText(text);
  } else if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
    edit->setText(text);
  } else {
    return false;
  }
  return true;
}

QWidget* SettingsForm::field(const std::string& name) const {
  for (const Row& row : rows_) {
    if (plat::EqualsIgnoringCase(row.info->name, name)) return row.editor;
  }
  return nullptr;
}

}  // namespace pladmin::ui
