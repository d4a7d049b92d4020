#include "console/ui/container_view.h"

#include <QVBoxLayout>

#include "console/ui/icons.h"
#include "console/ui/log_view.h"
#include "console/ui/port_view.h"
#include "console/ui/ports_view.h"
#include "console/ui/servers_view.h"
#include "console/ui/statistics_view.h"
#include "console/ui/usage_view.h"
#include "console/ui/users_view.h"

namespace pladmin::ui {

namespace {

// The view for a choice of the switch table.
ContentViewBase* CreateContentView(CPladminDoc& doc, ContentView kind, QWidget* parent) {
  switch (kind) {
    case ContentView::Ports: return new PortsView(doc, parent);
    case ContentView::Users: return new UsersView(doc, parent);
    case ContentView::PortStatus: return new PortView(doc, parent);
    case ContentView::Log: return new LogView(doc, parent);
    case ContentView::Usage: return new UsageView(doc, parent);
    case ContentView::Statistics: return new StatisticsView(doc, parent);
    case ContentView::Servers: break;
  }
  return new ServersView(doc, parent);
}

}  // namespace

ContainerView::ContainerView(CPladminDoc& doc, QWidget* parent)
    : QWidget(parent),
      doc_(doc),
      caption_(new CaptionBar(this)),
      splitter_(new QSplitter(Qt::Horizontal, this)),
      tree_(new NodeView(doc, splitter_)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(caption_);
  layout->addWidget(splitter_, 1);
  splitter_->setHandleWidth(4);
  splitter_->setChildrenCollapsible(false);
  splitter_->setStyleSheet("QSplitter::handle { background: #d0d4da; }");
  tree_->setMinimumWidth(150);
  ShowContent(*ChooseContentView(kNodeServersRoot, kNavStatus));
  switchCount_ = 0;
  splitter_->setSizes({220, 600});
  connect(tree_, &NodeView::NodeSelected, this, [this](const Selection& selection) {
    const SwitchRequest request = doc_.SelectNode(selection);
    if (request.refused) {
      tree_->RestoreSelection();
      return;
    }
    Apply(request);
    // A new item in the same kind of view: the view shows its data.
    if (!request.view && content_) content_->OnUpdate(kHintSelection, -1);
    emit SelectionChanged();
  });
}

void ContainerView::Apply(const SwitchRequest& request) {
  if (request.view) ShowContent(*request.view);
}

void ContainerView::ShowContent(const ViewChoice& choice) {
  // Made without a parent: a child of the splitter would join it by itself.
  ContentViewBase* view = CreateContentView(doc_, choice.view, nullptr);
  connect(view, &ContentViewBase::CommandRequested, this, &ContainerView::CommandRequested);
  connect(view, &ContentViewBase::StatusText, this, &ContainerView::StatusText);
  connect(view, &ContentViewBase::ProgressStarted, this, &ContainerView::ProgressStarted);
  connect(view, &ContentViewBase::CommandsChanged, this, &ContainerView::CommandsChanged);
  connect(view, &ContentViewBase::SettingsSaved, this, &ContainerView::SettingsSaved);
  connect(view, &ContentViewBase::SelectRequested, this,
          [this](const QString& server, const QString& port) { tree_->Select(server, port); });
  const QList<int> sizes = splitter_->sizes();
  if (content_) {
    splitter_->replaceWidget(1, view);
    content_->deleteLater();
  } else {
    splitter_->addWidget(view);
  }
  splitter_->setStretchFactor(1, 1);
  if (sizes.size() == 2) splitter_->setSizes(sizes);
  content_ = view;
  ++switchCount_;
  caption_->SetCaption(tr(choice.caption), NavIcon(doc_.selection().navItem));
  if (choice.hint != kHintNone) content_->OnUpdate(choice.hint, -1);
}

void ContainerView::OnUpdate(int hint, int serverIndex) {
  tree_->OnUpdate(hint, serverIndex);
  if (content_) content_->OnUpdate(hint, serverIndex);
}

void ContainerView::RedrawServer(int serverIndex) {
  if (content_) content_->RedrawServer(serverIndex);
}

}  // namespace pladmin::ui
