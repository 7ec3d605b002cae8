#include "desktop/VersionsBrowser.hpp"

#include "desktop/NSScreen.hpp"
#include "foundation/FatalError.hpp"

#include <QApplication>
#include <QDateTime>
#include <QHBoxLayout>
#include <QListWidget>
#include <QLocale>
#include <QMainWindow>
#include <QPixmap>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>

namespace velmora {

namespace {

QString dateText(std::chrono::system_clock::time_point savedAt) {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(savedAt.time_since_epoch()).count();
    return QLocale().toString(QDateTime::fromMSecsSinceEpoch(ms), QLocale::ShortFormat);
}

QPixmap blankThumbnail() {
    QPixmap blank(VersionsBrowser::thumbnailSide, VersionsBrowser::thumbnailSide);
    blank.fill(Qt::transparent);
    return blank;
}

// Drops the zoom a window manager may hold, so the frame given is the frame shown.
void setNormalFrame(NSWindow& window, CGRect frame) {
    if (QMainWindow* widget = window.widget()) {
        widget->setWindowState(widget->windowState() & ~Qt::WindowMaximized);
    }
    window.setFrame(frame);
}

} // namespace

VersionsBrowser::Layout VersionsBrowser::layout(CGRect visibleFrame) {
    const CGFloat width = std::clamp(visibleFrame.size.width * 0.2, CGFloat(200), CGFloat(320));
    const CGFloat rest = std::max(visibleFrame.size.width - width, CGFloat(0));
    const CGFloat x = visibleFrame.origin.x, y = visibleFrame.origin.y;
    const CGFloat h = visibleFrame.size.height;
    return {
        {{x, y}, {rest / 2, h}}, {{x + rest / 2, y}, {rest / 2, h}}, {{x + rest, y}, {width, h}}};
}

VersionsBrowser::VersionsBrowser(std::shared_ptr<NSWindow> documentWindow,
                                 std::vector<DocumentVersion> versions, ThumbnailMaker thumbnails,
                                 Handlers handlers)
    : documentWindow_(documentWindow), versions_(std::move(versions)),
      thumbnails_(std::move(thumbnails)), handlers_(std::move(handlers)) {}

std::shared_ptr<VersionsBrowser> VersionsBrowser::open(std::shared_ptr<NSWindow> documentWindow,
                                                       std::vector<DocumentVersion> versions,
                                                       ThumbnailMaker thumbnails,
                                                       Handlers handlers) {
    if (documentWindow == nullptr) {
        fatalError("A versions browser without its document window");
    }
    std::shared_ptr<VersionsBrowser> browser(
        new VersionsBrowser(std::move(documentWindow), std::move(versions), std::move(thumbnails),
                            std::move(handlers)));
    browser->build();
    browser->enter();
    browser->startThumbnails();
    return browser;
}

VersionsBrowser::~VersionsBrowser() {
    shared_->cancelled = true;
    NSWindow::removeObserver(windowObserver_);
    if (open_) {
        if (versionWindow_ != nullptr) {
            versionWindow_->close();
        }
        window_->close();
    }
}

void VersionsBrowser::build() {
    const auto document = documentWindow();
    window_ = std::make_shared<NSWindow>(CGRect{{0, 0}, {280, 600}},
                                         NSWindowStyleMask::titled | NSWindowStyleMask::closable |
                                             NSWindowStyleMask::resizable);
    window_->setTitle(document->title().empty() ? "Versions" : "Versions of " + document->title());
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    list_ = new QListWidget;
    list_->setIconSize({thumbnailSide, thumbnailSide});
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    const QPixmap blank = blankThumbnail();
    const QIcon damaged = QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
    for (const auto& version : versions_) {
        auto* item = new QListWidgetItem(QIcon(blank), dateText(version.savedAt), list_);
        if (version.isDamaged) {
            item->setIcon(damaged);
            item->setToolTip(QString::fromStdString(version.error));
            item->setFlags(item->flags() & ~(Qt::ItemIsEnabled | Qt::ItemIsSelectable));
        }
    }
    column->addWidget(list_, 1);
    auto* buttons = new QHBoxLayout;
    restoreButton_ = new QPushButton("Restore");
    restoreButton_->setEnabled(false);
    doneButton_ = new QPushButton("Done");
    doneButton_->setDefault(true);
    buttons->addStretch(1);
    buttons->addWidget(restoreButton_);
    buttons->addWidget(doneButton_);
    column->addLayout(buttons);
    window_->setContentView(content);

    const std::weak_ptr<VersionsBrowser> weak = weak_from_this();
    QObject::connect(list_, &QListWidget::currentRowChanged, content, [weak](int row) {
        if (const auto self = weak.lock(); self && row >= 0) {
            self->choose(std::size_t(row));
        }
    });
    QObject::connect(restoreButton_, &QPushButton::clicked, content, [weak] {
        if (const auto self = weak.lock()) {
            self->restore();
        }
    });
    QObject::connect(doneButton_, &QPushButton::clicked, content, [weak] {
        if (const auto self = weak.lock()) {
            self->close();
        }
    });
    // Closing either window ends the browsing.
    windowObserver_ = NSWindow::addObserver([weak](NSWindow& window, std::string_view name) {
        const auto self = weak.lock();
        if (self == nullptr || name != NSWindow::willCloseNotification || self->closing_) {
            return;
        }
        if (&window == self->versionWindow_.get()) {
            self->versionWindow_ = nullptr;
            self->chosen_.reset();
            self->restoreButton_->setEnabled(false);
            return;
        }
        if (&window == self->window_.get() || &window == self->documentWindow().get()) {
            DispatchQueue::main().async([weak] {
                if (const auto browser = weak.lock()) {
                    browser->close();
                }
            });
        }
    });
}

void VersionsBrowser::enter() {
    const auto document = documentWindow();
    const auto keep = shared_from_this();
    open_ = true;
    document->noteVersionBrowser(NSWindow::willEnterVersionBrowserNotification);
    documentFrame_ = document->frame();
    documentWasMaximized_ =
        document->widget() != nullptr && document->widget()->windowState() & Qt::WindowMaximized;
    const auto screen = document->screen() ? document->screen() : NSScreen::mainScreen();
    if (screen != nullptr) {
        const Layout places = layout(screen->visibleFrame());
        setNormalFrame(*document, places.document);
        window_->setFrame(places.browser);
    }
    window_->makeKeyAndOrderFront();
    document->noteVersionBrowser(NSWindow::didEnterVersionBrowserNotification);
}

void VersionsBrowser::startThumbnails() {
    for (std::size_t index = 0; index < versions_.size(); ++index) {
        if (versions_[index].isDamaged) {
            continue;
        }
        thumbnailQueue_.async([shared = shared_, make = thumbnails_, version = versions_[index],
                               index, weak = weak_from_this()] {
            if (shared->cancelled) {
                return;
            }
            QImage image;
            std::string error;
            try {
                image = make ? make(version) : QImage();
                if (!image.isNull()) {
                    image = image.scaled(thumbnailSide, thumbnailSide, Qt::KeepAspectRatio,
                                         Qt::SmoothTransformation);
                }
            } catch (const std::exception& failure) {
                error = failure.what();
            } catch (...) {
                error = "The version cannot be read.";
            }
            if (shared->cancelled) {
                return;
            }
            DispatchQueue::main().async([weak, index, image = std::move(image), error] {
                if (const auto self = weak.lock(); self && self->open_) {
                    self->showThumbnail(index, image, error);
                }
            });
        });
    }
}

void VersionsBrowser::showThumbnail(std::size_t index, const QImage& image,
                                    const std::string& error) {
    thumbnailsDone_ += 1;
    if (!error.empty()) {
        markDamaged(index, error);
        return;
    }
    if (!image.isNull() && list_ != nullptr) {
        list_->item(int(index))->setIcon(QIcon(QPixmap::fromImage(image)));
    }
}

void VersionsBrowser::markDamaged(std::size_t index, const std::string& error) {
    versions_[index].isDamaged = true;
    versions_[index].error = error;
    if (list_ == nullptr) {
        return;
    }
    QListWidgetItem* item = list_->item(int(index));
    item->setIcon(QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning));
    item->setToolTip(QString::fromStdString(error));
    item->setFlags(item->flags() & ~(Qt::ItemIsEnabled | Qt::ItemIsSelectable));
    if (chosen_ == index) {
        chosen_.reset();
        closeVersionWindow();
    }
    if (restoreButton_ != nullptr) {
        restoreButton_->setEnabled(chosen_.has_value());
    }
}

bool VersionsBrowser::choose(std::size_t index) {
    if (!open_ || index >= versions_.size() || versions_[index].isDamaged) {
        return false;
    }
    if (chosen_ == index && versionWindow_ != nullptr) {
        return true;
    }
    closeVersionWindow();
    chosen_.reset();
    std::shared_ptr<NSWindow> shown;
    try {
        shown = handlers_.open ? handlers_.open(versions_[index]) : nullptr;
    } catch (const std::exception& error) {
        markDamaged(index, error.what());
        return false;
    }
    if (shown == nullptr) {
        restoreButton_->setEnabled(false);
        return false;
    }
    chosen_ = index;
    versionWindow_ = std::move(shown);
    if (const auto document = documentWindow()) {
        const auto screen = document->screen() ? document->screen() : NSScreen::mainScreen();
        if (screen != nullptr) {
            setNormalFrame(*versionWindow_, layout(screen->visibleFrame()).version);
        }
    }
    versionWindow_->orderFront();
    {
        const QSignalBlocker quiet(list_);
        list_->setCurrentRow(int(index));
    }
    restoreButton_->setEnabled(true);
    return true;
}

bool VersionsBrowser::restore() {
    if (!open_ || !chosen_ || !handlers_.restore) {
        return false;
    }
    const auto keep = shared_from_this();
    if (!handlers_.restore(versions_[*chosen_])) {
        return false;
    }
    close();
    return true;
}

void VersionsBrowser::closeVersionWindow() {
    if (const auto shown = std::exchange(versionWindow_, nullptr)) {
        shown->close();
    }
}

void VersionsBrowser::close() {
    if (!open_ || closing_) {
        return;
    }
    const auto keep = shared_from_this();
    closing_ = true;
    shared_->cancelled = true;
    const auto document = documentWindow();
    if (document != nullptr) {
        document->noteVersionBrowser(NSWindow::willExitVersionBrowserNotification);
    }
    closeVersionWindow();
    window_->close();
    if (document != nullptr) {
        setNormalFrame(*document, documentFrame_);
        if (documentWasMaximized_ && document->widget() != nullptr) {
            document->widget()->setWindowState(document->widget()->windowState() |
                                               Qt::WindowMaximized);
        }
    }
    open_ = false;
    closing_ = false;
    if (document != nullptr) {
        document->noteVersionBrowser(NSWindow::didExitVersionBrowserNotification);
        if (document->isVisible()) {
            document->makeKeyAndOrderFront();
        }
    }
    if (handlers_.closed) {
        handlers_.closed();
    }
}

} // namespace velmora
