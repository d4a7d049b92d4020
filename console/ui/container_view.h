// CPladminView: the caption bar above a splitter holding the navigation tree
// and the content view; the content view is replaced as the selection and
// the navigation item change (the document's switch table decides).
#pragma once

#include <QSplitter>
#include <QWidget>

#include "console/core/pladmin_doc.h"
#include "console/ui/caption_bar.h"
#include "console/ui/content_views.h"
#include "console/ui/node_view.h"

namespace pladmin::ui {

class ContainerView : public QWidget {
  Q_OBJECT
 public:
  ContainerView(CPladminDoc& doc, QWidget* parent);

  // Carries out a switch request of the document (nothing when it holds no view).
  void Apply(const SwitchRequest& request);
  // Update hints for the tree and the content view.
  void OnUpdate(int hint, int serverIndex);
  void RedrawServer(int serverIndex);

  NodeView* tree() const { return tree_; }
  ContentViewBase* content() const { return content_; }
  CaptionBar* caption() const { return caption_; }
  QSplitter* splitter() const { return splitter_; }
  // How often the content view was replaced.
  int switchCount() const { return switchCount_; }

 signals:
  void SelectionChanged();
  // The content view's requests to the frame, passed on.
  void CommandRequested(int commandId);
  void StatusText(const QString& text);
  void ProgressStarted();
  void CommandsChanged();
  void SettingsSaved(const std::vector<std::string>& servers);

 private:
  void ShowContent(const ViewChoice& choice);

  CPladminDoc& doc_;
  CaptionBar* caption_;
  QSplitter* splitter_;
  NodeView* tree_;
  ContentViewBase* content_ = nullptr;
  int switchCount_ = 0;
};

}  // namespace pladmin::ui
