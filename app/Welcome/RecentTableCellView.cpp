#include "Welcome/RecentTableCellView.hpp"

#include "Extensions/AppKitExtensions.hpp"
#include "Welcome/ThumbnailGenerator.hpp"
#include "desktop/NSWorkspace.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cctype>

namespace velmora {

namespace {

constexpr std::string_view nativeExtension = "velmora";

std::string lowercased(std::string text) {
    std::ranges::transform(text, text.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace

RecentTableCellView::RecentTableCellView(QWidget* parent) : QWidget(parent) {
    iconView_ = new QLabel(this);
    iconView_->setFixedSize(iconSide, iconSide);
    iconView_->setAlignment(Qt::AlignCenter);
    nameLabel_ = new QLabel(this);
    QFont bold = nameLabel_->font();
    bold.setBold(true);
    nameLabel_->setFont(bold);
    pathLabel_ = new QLabel(this);
    pathLabel_->setForegroundRole(QPalette::PlaceholderText);
    showInFinderButton_ = new QToolButton(this);
    showInFinderButton_->setIcon(QIcon::fromTheme(QStringLiteral("folder-open"),
                                                  style()->standardIcon(QStyle::SP_DirOpenIcon)));
    showInFinderButton_->setToolTip(QObject::tr("Show in File Manager"));
    showInFinderButton_->setAutoRaise(true);
    showInFinderButton_->hide();
    QObject::connect(showInFinderButton_, &QToolButton::clicked, this, [this] { showInFinder(); });

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addStretch();
    texts->addWidget(nameLabel_);
    texts->addWidget(pathLabel_);
    texts->addStretch();
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(6, 4, 6, 4);
    row->addWidget(iconView_);
    row->addLayout(texts, 1);
    row->addWidget(showInFinderButton_);
}

std::string RecentTableCellView::displayedName(const URL& url) {
    std::string name = url.lastPathComponent();
    if (lowercased(url.pathExtension()) == nativeExtension) {
        name.resize(name.size() - nativeExtension.size() - 1);
    }
    return name;
}

std::string RecentTableCellView::displayedFolder(const URL& url) {
    return abbreviatingWithTildeInPath(url.deletingLastPathComponent().path(), homeFolderPath());
}

void RecentTableCellView::setURL(std::optional<URL> url) {
    const std::optional<URL> previous = std::exchange(url_, std::move(url));
    if (!url_) {
        ++imageRequest_;
        wantedImage_ = nullptr;
        nameLabel_->clear();
        pathLabel_->clear();
        iconView_->clear();
        showInFinderButton_->hide();
        return;
    }
    if (previous != url_) {
        iconView_->clear();
    }
    reloadImage();
    nameLabel_->setText(QString::fromStdString(displayedName(*url_)));
    pathLabel_->setText(QString::fromStdString(displayedFolder(*url_)));
    showInFinderButton_->show();
}

void RecentTableCellView::reloadImage() {
    const std::uint64_t request = ++imageRequest_;
    // The request before this one is out of date.
    wantedImage_ = std::make_shared<const int>(0);
    if (!url_) {
        iconView_->clear();
        return;
    }
    const qreal scale = devicePixelRatioF();
    const QSize pixels = iconView_->size() * scale;
    ThumbnailGenerator::shared().generate(
        url_->filePath(), pixels, wantedImage_,
        [cell = QPointer(this), url = *url_, request, scale](const QImage& image) {
            if (!cell || cell->url_ != url || cell->imageRequest_ != request) {
                return;
            }
            QPixmap picture;
            if (!image.isNull()) {
                picture = QPixmap::fromImage(image);
            } else {
                picture = NSWorkspace::shared()
                              .iconForFile(url.path())
                              .pixmap(cell->iconView_->size(), scale);
            }
            picture.setDevicePixelRatio(scale);
            cell->iconView_->setPixmap(picture);
        });
}

void RecentTableCellView::showInFinder() {
    if (url_) {
        NSWorkspace::shared().activateFileViewerSelectingURLs({*url_});
    }
}

} // namespace velmora
