#pragma once

#include "foundation/URL.hpp"

#include <QLabel>
#include <QPointer>
#include <QToolButton>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace velmora {

// One recent document's row: its thumbnail (or its type's icon), its name,
// the folder it lies in and a button that reveals it in the file manager.
class RecentTableCellView : public QWidget {
public:
    static constexpr int iconSide = 48;

    explicit RecentTableCellView(QWidget* parent = nullptr);

    QLabel* nameLabel() const { return nameLabel_; }
    QLabel* pathLabel() const { return pathLabel_; }
    QLabel* iconView() const { return iconView_; }
    QToolButton* showInFinderButton() const { return showInFinderButton_; }

    const std::optional<URL>& url() const { return url_; }
    // Updates the row; a different document clears the picture first, so a
    // reused row never shows the previous one's while the new one loads.
    void setURL(std::optional<URL> url);

    // Asks for the thumbnail again (a saved document has a new one). It is
    // made, and lands, only if the row still lives, still shows that document,
    // and was not asked again since.
    void reloadImage();
    void showInFinder();

    // The name shown: the file's, without the native extension in any case.
    static std::string displayedName(const URL& url);
    // The folder shown: the file's folder, the home folder written "~".
    static std::string displayedFolder(const URL& url);

private:
    QPointer<QLabel> nameLabel_;
    QPointer<QLabel> pathLabel_;
    QPointer<QLabel> iconView_;
    QPointer<QToolButton> showInFinderButton_;
    std::optional<URL> url_;
    std::uint64_t imageRequest_ = 0;
    // Lives as long as the latest request is wanted.
    std::shared_ptr<const int> wantedImage_;
};

} // namespace velmora
