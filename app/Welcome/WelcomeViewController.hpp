#pragma once

#include "Document/DocumentController.hpp"
#include "desktop/NSViewController.hpp"
#include "desktop/NotificationCenter.hpp"
#include "foundation/URL.hpp"

#include <QPointer>
#include <QTableWidget>
#include <vector>

class QKeyEvent;

namespace velmora {

class RecentTableCellView;

// The welcome window's content: new and open buttons and the recent
// documents, one row each, refreshed when the list changes and whenever the
// window becomes key (a saved document has a new thumbnail).
class WelcomeViewController : public NSViewController, public DocumentControllerDelegate {
public:
    WelcomeViewController() = default;
    ~WelcomeViewController() override;

    QTableWidget* tableView() const { return tableView_; }
    // The list as the table last loaded it; rows and their URLs come from here.
    const std::vector<URL>& displayedURLs() const { return displayedURLs_; }

    void loadView() override;
    void viewDidLoad() override;
    void viewDidAppear() override;
    void viewWillDisappear() override;

    void documentControllerDidChangeRecentDocuments(DocumentController& controller) override;

    void newArtwork();
    void openArtwork();
    // Opens the document the selected row shows; an error is shown in an alert.
    void openSelectedRecentItem();
    // Return or Enter with a row selected opens it; false hands the key on.
    bool keyDown(const QKeyEvent& event);

    int numberOfRows() const { return int(displayedURLs_.size()); }
    // The cell of a row below the row count, showing that row's document.
    RecentTableCellView* viewForRow(int row);

private:
    void refresh();
    void reloadData();

    QPointer<QTableWidget> tableView_;
    NotificationCenter::ObserverToken windowObservation_;
    std::vector<URL> displayedURLs_;
};

} // namespace velmora
