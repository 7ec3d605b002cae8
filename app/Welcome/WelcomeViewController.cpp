#include "Welcome/WelcomeViewController.hpp"

#include "Extensions/AppKitExtensions.hpp"
#include "Welcome/RecentTableCellView.hpp"
#include "desktop/NSApplication.hpp"
#include "desktop/NSPresentedError.hpp"
#include "desktop/NSWindow.hpp"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace velmora {

namespace {

// The table hands its keys to the controller first.
class RecentTableView : public QTableWidget {
public:
    RecentTableView(std::weak_ptr<WelcomeViewController> controller, QWidget* parent)
        : QTableWidget(parent), controller_(std::move(controller)) {}

protected:
    void keyPressEvent(QKeyEvent* event) override {
        const auto controller = controller_.lock();
        if (controller && controller->keyDown(*event)) {
            event->accept();
            return;
        }
        QTableWidget::keyPressEvent(event);
    }

private:
    std::weak_ptr<WelcomeViewController> controller_;
};

void showOpenError(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const NSPresentedError&) {
        // Shown by its thrower already.
    } catch (...) {
        makeAlert(std::current_exception())->runModal();
    }
}

} // namespace

WelcomeViewController::~WelcomeViewController() {
    if (windowObservation_) {
        NotificationCenter::defaultCenter().removeObserver(windowObservation_);
    }
}

void WelcomeViewController::loadView() {
    auto* view = new QWidget;
    auto* title = new QLabel(QObject::tr("Welcome to Velmora"), view);
    QFont large = title->font();
    large.setPointSizeF(large.pointSizeF() * 1.6);
    large.setBold(true);
    title->setFont(large);
    auto* newButton = new QPushButton(QObject::tr("New Artwork"), view);
    auto* openButton = new QPushButton(QObject::tr("Open…"), view);
    auto* recents = new QLabel(QObject::tr("Recent Documents"), view);

    tableView_ = new RecentTableView(weakAs<WelcomeViewController>(), view);
    tableView_->setColumnCount(1);
    tableView_->horizontalHeader()->hide();
    tableView_->horizontalHeader()->setStretchLastSection(true);
    tableView_->verticalHeader()->hide();
    tableView_->verticalHeader()->setDefaultSectionSize(RecentTableCellView::iconSide + 8);
    tableView_->setShowGrid(false);
    tableView_->setSelectionMode(QAbstractItemView::SingleSelection);
    tableView_->setSelectionBehavior(QAbstractItemView::SelectRows);
    tableView_->setEditTriggers(QAbstractItemView::NoEditTriggers);

    const auto action =
        [weak = weakAs<WelcomeViewController>()](void (WelcomeViewController::*method)()) {
            return [weak, method] {
                if (const auto controller = weak.lock()) {
                    (controller.get()->*method)();
                }
            };
        };
    QObject::connect(newButton, &QPushButton::clicked, view,
                     action(&WelcomeViewController::newArtwork));
    QObject::connect(openButton, &QPushButton::clicked, view,
                     action(&WelcomeViewController::openArtwork));
    QObject::connect(tableView_, &QTableWidget::cellDoubleClicked, view,
                     action(&WelcomeViewController::openSelectedRecentItem));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(newButton);
    buttons->addWidget(openButton);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(view);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->addWidget(title);
    layout->addLayout(buttons);
    layout->addSpacing(8);
    layout->addWidget(recents);
    layout->addWidget(tableView_, 1);
    setView(view);
}

void WelcomeViewController::viewDidLoad() {
    DocumentController::shared().delegate = weakAs<WelcomeViewController>();
    refresh();
}

void WelcomeViewController::viewDidAppear() {
    const auto shown = window();
    if (!shown || windowObservation_) {
        return;
    }
    windowObservation_ = NotificationCenter::defaultCenter().addObserver(
        std::string(NSWindow::didBecomeKeyNotification), shown.get(), DispatchQueue::main(),
        [weak = weakAs<WelcomeViewController>()](const Notification&) {
            if (const auto controller = weak.lock()) {
                controller->refresh();
            }
        });
}

void WelcomeViewController::viewWillDisappear() {
    if (windowObservation_) {
        NotificationCenter::defaultCenter().removeObserver(windowObservation_);
        windowObservation_.reset();
    }
}

void WelcomeViewController::documentControllerDidChangeRecentDocuments(DocumentController&) {
    refresh();
}

void WelcomeViewController::newArtwork() {
    NSApplication::shared().sendAction("newDocument:");
}

void WelcomeViewController::openArtwork() {
    NSApplication::shared().sendAction("openDocument:");
}

void WelcomeViewController::refresh() {
    std::vector<URL> urls = DocumentController::shared().recentDocumentURLs();
    if (urls == displayedURLs_) {
        // Same rows: only their pictures, and only of the cells already made.
        for (int row = 0; row < tableView_->rowCount(); ++row) {
            if (auto* cell = dynamic_cast<RecentTableCellView*>(tableView_->cellWidget(row, 0))) {
                cell->reloadImage();
            }
        }
        return;
    }
    displayedURLs_ = std::move(urls);
    reloadData();
}

void WelcomeViewController::reloadData() {
    // The rows going are deleted only later: their pictures are no longer wanted now.
    for (int row = 0; row < tableView_->rowCount(); ++row) {
        if (auto* cell = dynamic_cast<RecentTableCellView*>(tableView_->cellWidget(row, 0))) {
            cell->setURL(std::nullopt);
        }
    }
    tableView_->clearContents();
    tableView_->setRowCount(numberOfRows());
    for (int row = 0; row < numberOfRows(); ++row) {
        tableView_->setCellWidget(row, 0, viewForRow(row));
    }
}

RecentTableCellView* WelcomeViewController::viewForRow(int row) {
    auto* cell = new RecentTableCellView;
    cell->setURL(displayedURLs_.at(std::size_t(row)));
    return cell;
}

void WelcomeViewController::openSelectedRecentItem() {
    const auto selected = tableView_->selectionModel()->selectedRows();
    const int row = selected.isEmpty() ? -1 : selected.front().row();
    if (row < 0 || row >= numberOfRows()) {
        return;
    }
    const URL url = displayedURLs_[std::size_t(row)];
    DocumentController::shared().openDocument(
        url, true, [](const std::shared_ptr<NSDocument>&, bool, std::exception_ptr error) {
            if (error) {
                showOpenError(error);
            }
        });
}

bool WelcomeViewController::keyDown(const QKeyEvent& event) {
    const bool opens = event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter;
    if (!opens || tableView_->selectionModel()->selectedRows().isEmpty()) {
        return false;
    }
    openSelectedRecentItem();
    return true;
}

} // namespace velmora
