#pragma once

#include "Document/ConversionControllerResponse.hpp"
#include "desktop/NSViewController.hpp"
#include "foundation/URL.hpp"

#include <QCheckBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <memory>
#include <optional>

namespace velmora {

// How the panel reaches the file it asks about and hands back the answer.
class DocumentConversionViewControllerDelegate {
public:
    virtual ~DocumentConversionViewControllerDelegate() = default;
    virtual std::optional<URL> docURL() const = 0;
    virtual void setUserResponse(ConversionControllerResponse response) = 0;
};

// The question whether an opened flat image becomes a layered document: the
// file's name, a check box to make the answer permanent, and the two answers.
class DocumentConversionViewController : public NSViewController {
public:
    std::weak_ptr<DocumentConversionViewControllerDelegate> delegate;

    void loadView() override;
    // Shows the delegate's file in the title.
    void viewWillAppear() override;

    // "keepFormat:" and "convertFormat:": the answer, "always" with the check
    // box on, then the panel closes.
    void keepFormat();
    void convertFormat();

    QLabel* titleField() const { return titleField_; }
    QCheckBox* alwaysApplyButton() const { return alwaysApplyButton_; }
    QPushButton* keepButton() const { return keepButton_; }
    QPushButton* convertButton() const { return convertButton_; }

private:
    void answer(ConversionControllerResponse response);

    QPointer<QLabel> titleField_;
    QPointer<QCheckBox> alwaysApplyButton_;
    QPointer<QPushButton> keepButton_;
    QPointer<QPushButton> convertButton_;
};

} // namespace velmora
