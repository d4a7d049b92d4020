// A wizard page with setup's painted header: the setup bitmap at 4,4 and
// the page's title at 180,30 in Arial, 18 pixels high, weight 600. The
// page's own widgets go below the header.
#pragma once

#include <QPixmap>
#include <QString>
#include <QWizardPage>

class QVBoxLayout;

class HeaderPage : public QWizardPage {
  Q_OBJECT

 public:
  HeaderPage(const QString& headerTitle, QWidget* parent = nullptr);

  const QString& headerTitle() const { return headerTitle_; }
  // The setup bitmap, drawn once.
  static const QPixmap& SetupBitmap();

 protected:
  void paintEvent(QPaintEvent* event) override;
  QVBoxLayout* body() const { return body_; }

 private:
  QString headerTitle_;
  QVBoxLayout* body_;
};
