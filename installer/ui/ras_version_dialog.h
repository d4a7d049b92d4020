// "Current RAS Version?": asked when setup cannot tell RAS from RRAS.
#pragma once

#include <QDialog>

class QRadioButton;

class RasVersionDialog : public QDialog {
  Q_OBJECT

 public:
  explicit RasVersionDialog(QWidget* parent = nullptr);
  bool rras() const;

  QRadioButton* ras;
  QRadioButton* rrasButton;
};
