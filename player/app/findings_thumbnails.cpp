#include "findings_thumbnails.h"

#include <QListWidget>
#include <QScrollBar>
#include <QTimer>

namespace vireo {

namespace {

constexpr QSize kIconSize(40, 40);

}  // namespace

FindingsThumbnails::FindingsThumbnails(QListWidget* list, std::function<std::int64_t(int)> frameOf)
    : QObject(list),
      list_(list),
      frameOf_(std::move(frameOf)),
      loader_(kIconSize),
      blank_(kIconSize),
      settle_(new QTimer(this)) {
  blank_.fill(Qt::transparent);
  list_->setIconSize(kIconSize);
  list_->setUniformItemSizes(true);
  settle_->setSingleShot(true);
  settle_->setInterval(30);
  connect(settle_, &QTimer::timeout, this, &FindingsThumbnails::Update);
  connect(list_->verticalScrollBar(), &QScrollBar::valueChanged, settle_, qOverload<>(&QTimer::start));
  connect(list_->model(), &QAbstractItemModel::rowsInserted, settle_, qOverload<>(&QTimer::start));
  connect(&loader_, &ThumbnailLoader::ready, this, &FindingsThumbnails::Show);
}

void FindingsThumbnails::SetClip(const QString& clipPath) {
  if (clipPath == clipPath_) return;
  clipPath_ = clipPath;
  loader_.SetClip(clipPath);
  for (int row = 0; row < list_->count(); ++row) list_->item(row)->setIcon(QIcon(blank_));
  Update();
}

void FindingsThumbnails::Update() {
  if (list_->count() == 0) return;
  const QRect view = list_->viewport()->rect();
  int first = list_->row(list_->itemAt(view.topLeft()));
  int last = list_->row(list_->itemAt(view.bottomLeft()));
  if (first < 0) first = 0;
  if (last < 0) last = list_->count() - 1;
  // The last asked comes first: ask bottom-up so the top of the view fills first.
  for (int row = last; row >= first; --row) {
    QListWidgetItem* item = list_->item(row);
    const QImage image = clipPath_.isEmpty() ? QImage() : loader_.Thumbnail(frameOf_(row));
    item->setIcon(image.isNull() ? QIcon(blank_) : QIcon(QPixmap::fromImage(image)));
  }
}

void FindingsThumbnails::Show(std::int64_t frame, const QImage& image) {
  if (image.isNull()) return;
  const QIcon icon(QPixmap::fromImage(image));
  for (int row = 0; row < list_->count(); ++row)
    if (frameOf_(row) == frame) list_->item(row)->setIcon(icon);
}

}  // namespace vireo
