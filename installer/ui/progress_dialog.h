// "Installing Portulon": the progress of the installation steps. The bar is
// a red filled rectangle whose width is the percentage of the bar's width,
// with a title line and a detail line beside it.
#pragma once

#include <QDialog>
#include <QWidget>

class QLabel;

class RedBar : public QWidget {
  Q_OBJECT
 public:
  explicit RedBar(QWidget* parent = nullptr);
  void setPercent(int percent);
  int percent() const { return percent_; }
  QSize sizeHint() const override { return {240, 18}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int percent_ = 0;
};

class ProgressDialog : public QDialog {
  Q_OBJECT
 public:
  explicit ProgressDialog(QWidget* parent = nullptr);
  void Show(int percent, const QString& title, const QString& detail);

  RedBar* bar() const { return bar_; }
  QString titleLine() const;
  QString detailLine() const;

 private:
  RedBar* bar_;
  QLabel* title_;
  QLabel* detail_;
};
