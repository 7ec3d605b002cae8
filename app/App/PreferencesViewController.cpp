#include "App/PreferencesViewController.hpp"

#include "desktop/NSWindow.hpp"
#include "foundation/FatalError.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QSignalBlocker>

namespace velmora {

namespace {

constexpr int noneItem = 0;

} // namespace

PreferencesViewController::PreferencesViewController(Preferences& preferences)
    : preferences_(preferences) {}

void PreferencesViewController::loadView() {
    auto* view = new QWidget;
    auto* form = new QFormLayout(view);
    preferredScreenPopupButton_ = new QComboBox(view);
    preferredScreenHelpLabel_ = new QLabel(view);
    preferredScreenHelpLabel_->setWordWrap(true);
    allowDrawingWithMouseButton_ = new QCheckBox(QObject::tr("Allow drawing with the mouse"), view);
    documentConversionPopupButton_ = new QComboBox(view);
    documentConversionPopupButton_->addItem(QObject::tr("Ask every time"), QStringLiteral("ask"));
    documentConversionPopupButton_->addItem(QObject::tr("Keep the image format"),
                                            QStringLiteral("keepAlways"));
    documentConversionPopupButton_->addItem(QObject::tr("Convert to a Velmora document"),
                                            QStringLiteral("convertAlways"));
    form->addRow(QObject::tr("Open new documents on:"), preferredScreenPopupButton_);
    form->addRow(QString(), preferredScreenHelpLabel_);
    form->addRow(QString(), allowDrawingWithMouseButton_);
    form->addRow(QObject::tr("Opened images:"), documentConversionPopupButton_);

    // Only the user's choices act: rebuilding the lists must not choose anything.
    // The view may outlive its controller.
    const auto action =
        [weak = weakAs<PreferencesViewController>()](void (PreferencesViewController::*method)()) {
            return [weak, method] {
                if (const auto controller = weak.lock()) {
                    (controller.get()->*method)();
                }
            };
        };
    QObject::connect(preferredScreenPopupButton_, &QComboBox::activated, view,
                     action(&PreferencesViewController::selectPreferredScreen));
    QObject::connect(allowDrawingWithMouseButton_, &QCheckBox::clicked, view,
                     action(&PreferencesViewController::selectCanDrawWithMouse));
    QObject::connect(documentConversionPopupButton_, &QComboBox::activated, view,
                     action(&PreferencesViewController::selectDocumentConversion));
    setView(view);
}

void PreferencesViewController::viewDidLoad() {
    fillScreenPopup();
    refresh();
    updateHelpLabel();
    preferences_.delegate = sharedAs<PreferencesViewController>();
}

void PreferencesViewController::viewWillAppear() {
    if (const std::shared_ptr<NSWindow> window = this->window()) {
        window->center();
    }
}

void PreferencesViewController::fillScreenPopup() {
    const QSignalBlocker blocker(preferredScreenPopupButton_);
    preferredScreenPopupButton_->clear();
    preferredScreenPopupButton_->addItem(QObject::tr("None"));
    for (const QScreen* screen : QGuiApplication::screens()) {
        preferredScreenPopupButton_->addItem(QString::fromStdString(displayName(*screen)));
    }
}

void PreferencesViewController::refresh() {
    if (const QScreen* screen = preferences_.preferredScreen()) {
        // Searched after "None", so that a screen of that name is found.
        const QString name = QString::fromStdString(displayName(*screen));
        for (int i = noneItem + 1; i < preferredScreenPopupButton_->count(); ++i) {
            if (preferredScreenPopupButton_->itemText(i) == name) {
                preferredScreenPopupButton_->setCurrentIndex(i);
                break;
            }
        }
    }
    allowDrawingWithMouseButton_->setChecked(preferences_.allowDrawingWithMouse());
    const QString policy =
        QString::fromUtf8(Preferences::text(preferences_.documentFormatConversion()));
    documentConversionPopupButton_->setCurrentIndex(
        documentConversionPopupButton_->findData(policy));
}

void PreferencesViewController::updateHelpLabel() {
    preferredScreenHelpLabel_->clear();
    if (preferredScreenPopupButton_->currentIndex() == noneItem) {
        preferredScreenHelpLabel_->setText(
            QStringLiteral("New documents will open in active screen."));
    } else {
        preferredScreenHelpLabel_->setText(
            QStringLiteral("New documents will always open on display \"%1\" unless it is "
                           "unavailable.")
                .arg(preferredScreenPopupButton_->currentText()));
    }
}

void PreferencesViewController::selectPreferredScreen() {
    updateHelpLabel();
    QScreen* chosen = nullptr;
    if (preferredScreenPopupButton_->currentIndex() != noneItem) {
        const std::string title = preferredScreenPopupButton_->currentText().toStdString();
        for (QScreen* screen : QGuiApplication::screens()) {
            if (displayName(*screen) == title) {
                chosen = screen;
                break;
            }
        }
    }
    preferences_.setPreferredScreen(chosen);
}

void PreferencesViewController::selectCanDrawWithMouse() {
    preferences_.setAllowDrawingWithMouse(allowDrawingWithMouseButton_->isChecked());
}

void PreferencesViewController::selectDocumentConversion() {
    const std::optional<Preferences::DocumentFormatConversion> policy =
        Preferences::documentFormatConversion(
            documentConversionPopupButton_->currentData().toString().toStdString());
    precondition(policy.has_value(), "A conversion item without a policy");
    preferences_.setDocumentFormatConversion(*policy);
}

void PreferencesViewController::preferencesDidChange(Preferences&) {
    fillScreenPopup();
    refresh();
    updateHelpLabel();
}

} // namespace velmora
